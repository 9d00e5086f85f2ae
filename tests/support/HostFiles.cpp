// Whole-file reads and writes by host path, the same on every platform the tests run on.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include "tests/support/TempPrefix.h"

namespace fw::test {

namespace fs = std::filesystem;

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

int64_t writeSparseHostFile(const std::string& hostPath, uint64_t size,
                            const std::vector<std::pair<uint64_t, std::string>>& pieces) {
    {
        std::error_code ec;
        fs::create_directories(fs::path(hostPath).parent_path(), ec);
        std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
        for (const auto& [offset, bytes] : pieces) {
            out.seekp(static_cast<std::streamoff>(offset));
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        if (!out) {
            return -1;
        }
    }
    std::error_code ec;
    fs::resize_file(hostPath, size, ec);
    if (ec) {
        return -1;
    }
#ifdef _WIN32
    const HANDLE file = CreateFileA(hostPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    FILE_STANDARD_INFO info{};
    const bool known = file != INVALID_HANDLE_VALUE &&
                       GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return known ? info.AllocationSize.QuadPart : -1;
#else
    struct stat st {};
    return stat(hostPath.c_str(), &st) == 0 ? int64_t{st.st_blocks} * 512 : -1;
#endif
}

}  // namespace fw::test
