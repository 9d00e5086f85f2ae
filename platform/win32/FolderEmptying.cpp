// Emptying a folder through the wide calls on "\\?\" paths: every name is reached as it
// is, one the ANSI code page cannot express, one that ends in a blank or a dot, or one
// beyond MAX_PATH. A reparse point (a link, a junction) is removed itself.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/win32/Backend.h"
#include "platform/win32/Links.h"

namespace fw::win32 {

namespace {

constexpr wchar_t kVerbatim[] = L"\\\\?\\";

// The full path of `path`, "\\?\" first, so that nothing of it is rewritten any more.
std::wstring verbatimPath(const char* path) {
    const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<std::size_t>(length) : 0, L'\0');
    if (length <= 0 || MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), length) <= 0) {
        return {};
    }
    const DWORD need = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(need, L'\0');
    const DWORD got = need > 0 ? GetFullPathNameW(wide.c_str(), need, full.data(), nullptr) : 0;
    if (got == 0 || got >= need) {
        return {};
    }
    full.resize(got);
    return full.rfind(kVerbatim, 0) == 0 ? full : kVerbatim + full;
}

// `path` for the failure's text: without "\\?\", and a character the code page lacks
// as '?'.
std::string ansiPath(std::wstring path) {
    if (path.rfind(kVerbatim, 0) == 0) {
        path.erase(0, 4);
    }
    const int size = WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size <= 0 || WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, ansi.data(), size, nullptr,
                                         nullptr) <= 0) {
        return {};
    }
    ansi.resize(static_cast<std::size_t>(size) - 1);  // its terminating NUL
    return ansi;
}

// The entries of `folder` but "." and "..", with their attributes.
bool entriesOf(const std::wstring& folder, std::vector<std::pair<std::wstring, DWORD>>& entries) {
    WIN32_FIND_DATAW found;
    const HANDLE listing = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (listing == INVALID_HANDLE_VALUE) {
        return false;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            entries.emplace_back(name, found.dwFileAttributes);
        }
    } while (FindNextFileW(listing, &found));
    const DWORD error = GetLastError();
    FindClose(listing);
    SetLastError(error);
    return error == ERROR_NO_MORE_FILES;
}

bool emptyVerbatim(const std::wstring& folder, std::wstring& failed) {
    std::vector<std::pair<std::wstring, DWORD>> entries;
    if (!entriesOf(folder, entries)) {
        failed = folder;
        return false;
    }
    for (const auto& [name, attributes] : entries) {
        const std::wstring path = folder + L"\\" + name;
        const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A link goes as it is; anything else read-only is made writable first (a
        // read-only folder refuses its own removal).
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            const DWORD writable = attributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
            if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
                !SetFileAttributesW(path.c_str(),
                                    writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL)) {
                failed = path;
                return false;
            }
            if (isFolder && !emptyVerbatim(path, failed)) {
                return false;
            }
        }
        if (!(isFolder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str()))) {
            failed = path;
            return false;
        }
    }
    return true;
}

}  // namespace

bool emptyFolder(const char* path, std::string& failed) {
    failed = path != nullptr ? path : "";
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (path == nullptr || !attributesWithoutLinks(path, attributes)) {
        return false;
    }
    const std::wstring folder = verbatimPath(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || folder.empty()) {
        return false;
    }
    std::wstring failedWide;
    if (emptyVerbatim(folder, failedWide)) {
        return true;
    }
    const DWORD error = GetLastError();
    failed = ansiPath(failedWide);
    SetLastError(error);
    return false;
}

}  // namespace fw::win32
