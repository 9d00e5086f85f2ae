// The Windows side of TempPrefix. There is no prefix folder to point the backend at:
// drive paths are the real ones. So each object gives the test a clean drive C: instead,
// by removing everything in C:\ that a freshly made wine prefix does not have, and
// removing it again at the end. That is only sound in a throw-away wine prefix, so
// anywhere else it refuses to start; and tests sharing a prefix must run one at a time.
#include "tests/support/TempPrefix.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <stdexcept>
#include <system_error>

#include <windows.h>

namespace fw::test {

namespace fs = std::filesystem;

namespace {

bool underWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// What wineboot puts in C:\, in lower case.
bool belongsToFreshPrefix(std::string name) {
    static const std::set<std::string> names = {"program files", "program files (x86)",
                                                "programdata", "users", "windows"};
    for (char& c : name) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return names.count(name) != 0;
}

// Read-only files and folders are cleared first, as the tests leave such things behind.
void removeTree(const fs::path& path) {
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(path, ec))) {
        for (const auto& e : fs::directory_iterator(path, ec)) {
            removeTree(e.path());
        }
    }
    SetFileAttributesA(path.string().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove(path, ec);
}

void cleanDriveC() {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("C:\\", ec)) {
        if (!belongsToFreshPrefix(e.path().filename().string())) {
            removeTree(e.path());
        }
    }
}

}  // namespace

TempPrefix::TempPrefix() {
    if (!underWine()) {
        throw std::runtime_error("these tests rewrite drive C: and run only under wine");
    }
    cleanDriveC();
    static int counter = 0;
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        fs::path candidate = base / ("ferrowick-test-" + std::to_string(GetCurrentProcessId()) +
                                     "-" + std::to_string(++counter));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            root_ = candidate.string();
            break;
        }
        if (ec) {
            throw std::runtime_error("cannot make a temporary folder");
        }
    }
    // Keeps the same current folder for every test: C:\, which the cleaning never removes.
    SetCurrentDirectoryA("C:\\");
}

TempPrefix::~TempPrefix() {
    cleanDriveC();
    removeTree(root_);
}

std::string TempPrefix::host(std::string_view drivePath) const {
    return std::string(drivePath);
}

std::string readHostFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeHostFile(const std::string& hostPath, std::string_view contents) {
    std::error_code ec;
    fs::create_directories(fs::path(hostPath).parent_path(), ec);
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    return static_cast<bool>(out);
}

}  // namespace fw::test
