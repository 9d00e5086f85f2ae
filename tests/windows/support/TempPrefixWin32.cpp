// The Windows side of TempPrefix. There is no prefix folder to point the backend at:
// drive paths are the real ones. So each object gives the test a clean drive C: instead,
// by removing everything in C:\ that a freshly made wine prefix does not have, and
// removing it again at the end. That is only sound in a throw-away wine prefix, so
// anywhere else it refuses to start; and tests sharing a prefix must run one at a time.
#include "tests/support/TempPrefix.h"

#include <cctype>
#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <windows.h>

namespace fw::test {

namespace fs = std::filesystem;

namespace {

bool underWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// What wineboot puts in C:\, in lower case.
bool belongsToFreshPrefix(std::wstring name) {
    static const std::set<std::wstring> names = {L"program files", L"program files (x86)",
                                                 L"programdata", L"users", L"windows"};
    for (wchar_t& c : name) {
        c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    }
    return names.count(name) != 0;
}

// Works on "\\?\" paths, which Win32 takes as they are: a plain path loses its trailing
// blanks and dots, so a folder "disk1 " left by a host-side tool would be listed but never
// reached, and a removal that goes by the listing would retry it for ever. Each entry is
// tried once; read-only files and folders are cleared first, as the tests leave such
// things behind.
void removeTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW found;
        const HANDLE listing = FindFirstFileW((path + L"\\*").c_str(), &found);
        if (listing != INVALID_HANDLE_VALUE) {
            std::vector<std::wstring> children;
            do {
                const std::wstring name = found.cFileName;
                if (name != L"." && name != L"..") {
                    children.push_back(path + L"\\" + name);
                }
            } while (FindNextFileW(listing, &found));
            FindClose(listing);
            for (const std::wstring& child : children) {
                removeTree(child);
            }
        }
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryW(path.c_str());
    } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    }
}

// "\\?\" plus the full path, with backslashes (the prefix turns off all other rewriting).
std::wstring verbatim(const std::string& path) {
    std::wstring wide = fs::absolute(fs::path(path)).wstring();
    for (wchar_t& c : wide) {
        c = c == L'/' ? L'\\' : c;
    }
    return L"\\\\?\\" + wide;
}

void cleanDriveC() {
    WIN32_FIND_DATAW found;
    const HANDLE listing = FindFirstFileW(L"\\\\?\\C:\\*", &found);
    if (listing == INVALID_HANDLE_VALUE) {
        return;
    }
    std::vector<std::wstring> doomed;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L".." && !belongsToFreshPrefix(name)) {
            doomed.push_back(L"\\\\?\\C:\\" + name);
        }
    } while (FindNextFileW(listing, &found));
    FindClose(listing);
    for (const std::wstring& path : doomed) {
        removeTree(path);
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
    removeTree(verbatim(root_));
}

std::string TempPrefix::host(std::string_view drivePath) const {
    return std::string(drivePath);
}

}  // namespace fw::test
