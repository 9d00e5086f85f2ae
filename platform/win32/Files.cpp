// Files and folders through the Win32 "A" calls.
#include <windows.h>

#include <cstdio>
#include <limits>
#include <string>
#include <string_view>

#include "platform/win32/Backend.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Links.h"

namespace fw::win32 {

namespace {

// ReadFile and WriteFile take a DWORD count: larger requests go in pieces.
constexpr std::size_t kMaxPiece = 1u << 30;

FILETIME toFiletime(const FileTime& t) {
    return FILETIME{t.low, t.high};
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

}  // namespace

// The attributes of `path` (INVALID_FILE_ATTRIBUTES when there is none), after looking
// at each level above it from below the drive's root down: false, with the last error
// ERROR_CANT_RESOLVE_FILENAME, when one of them, or `path` itself, is a reparse point
// (a symbolic link, a junction). Separators are found per character: a trail byte 0x5C
// is none.
bool attributesWithoutLinks(const char* path, DWORD& attributes) {
    const std::string_view text(path);
    std::size_t i = text.size() >= 2 && text[1] == ':' ? 2 : 0;
    while (i < text.size() && isSeparator(text[i])) {
        ++i;
    }
    for (; i <= text.size(); ++i) {
        if (i == text.size() || isSeparator(text[i])) {
            attributes = GetFileAttributesA(std::string(text.substr(0, i)).c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                return true;  // nothing below a missing level exists to go through
            }
            if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                SetLastError(ERROR_CANT_RESOLVE_FILENAME);
                return false;
            }
        } else if (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < text.size()) {
            ++i;
        }
    }
    return true;
}

namespace {

// Writing into a file that has other hard links would change them too: such a file is
// removed first, so that the write makes a new one.
bool unshare(const char* path, DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return true;  // nothing there, or refused by the write itself
    }
    const HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return true;  // the write reports why it cannot be had
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool shared = GetFileInformationByHandle(file, &info) && info.nNumberOfLinks > 1;
    CloseHandle(file);
    return !shared || DeleteFileA(path);
}

}  // namespace

// Ready to be created or written: no link on the way, and no hard link shared.
bool writable(const char* path) {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    return attributesWithoutLinks(path, attributes) && unshare(path, attributes);
}

// The levels above `path` (not `path` itself) are no links.
bool parentWithoutLinks(const char* path) {
    const std::string_view text(path);
    std::size_t end = text.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isSeparator(text[i])) {
            end = i;
        } else if (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < text.size()) {
            ++i;
        }
    }
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    return end == text.size() ||
           attributesWithoutLinks(std::string(text.substr(0, end)).c_str(), attributes);
}

uint32_t getFileAttributes(const char* path) {
    return GetFileAttributesA(path);
}

bool createDirectory(const char* path) {
    return parentWithoutLinks(path) && CreateDirectoryA(path, nullptr) != 0;
}

FileHandle openFile(const char* path) {
    return fromHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle createFile(const char* path, uint32_t attributes, bool alsoRead) {
    if (!writable(path)) {
        return kInvalidFile;
    }
    const DWORD access = alsoRead ? (GENERIC_WRITE | GENERIC_READ) : GENERIC_WRITE;
    return fromHandle(CreateFileA(path, access, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
}

std::int64_t readFile(FileHandle file, void* buffer, std::size_t count) {
    // One call: a short read is a normal answer, as it is from ReadFile itself.
    DWORD got = 0;
    const auto want = static_cast<DWORD>(count < kMaxPiece ? count : kMaxPiece);
    if (!ReadFile(toHandle(file), buffer, want, &got, nullptr)) {
        return -1;
    }
    return got;
}

std::int64_t readFileAt(FileHandle file, void* buffer, std::size_t count, std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const auto want = static_cast<DWORD>(count < kMaxPiece ? count : kMaxPiece);
    if (!ReadFile(toHandle(file), buffer, want, &got, &at)) {
        // Reading at or past the end is a read of nothing, as without an offset.
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return got;
}

bool writeFile(FileHandle file, const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const auto piece = static_cast<DWORD>(count < kMaxPiece ? count : kMaxPiece);
        DWORD written = 0;
        if (!WriteFile(toHandle(file), bytes, piece, &written, nullptr) || written == 0) {
            return false;
        }
        bytes += written;
        count -= written;
    }
    return true;
}

std::int64_t seekFile(FileHandle file, std::int64_t offset, SeekOrigin origin) {
    const DWORD method = origin == SeekOrigin::begin     ? FILE_BEGIN
                         : origin == SeekOrigin::current ? FILE_CURRENT
                                                         : FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(toHandle(file), distance, &position, method)) {
        return -1;
    }
    return position.QuadPart;
}

bool setFileTimes(FileHandle file, const FileTime* creation, const FileTime* lastAccess,
                  const FileTime* lastWrite) {
    // A time of 0 means "leave it": SetFileTime takes NULL for that.
    FILETIME c{}, a{}, w{};
    auto pick = [](const FileTime* t, FILETIME& out) -> const FILETIME* {
        if (!t || t->ticks() == 0) {
            return nullptr;
        }
        out = toFiletime(*t);
        return &out;
    };
    return SetFileTime(toHandle(file), pick(creation, c), pick(lastAccess, a),
                       pick(lastWrite, w)) != 0;
}

bool closeFile(FileHandle file) {
    return CloseHandle(toHandle(file)) != 0;
}

bool removeFile(const char* path) {
    return parentWithoutLinks(path) && std::remove(path) == 0;
}

bool copyFile(const char* source, const char* destination) {
    return writable(destination) && CopyFileA(source, destination, FALSE) != 0;
}

bool appendText(const char* path, const char* text) {
    if (path == nullptr || text == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (!attributesWithoutLinks(path, attributes)) {
        return false;
    }
    std::string lines;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\n' && (c == text || c[-1] != '\r')) {
            lines += '\r';
        }
        lines += *c;
    }
    const HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Only a file of one name on a disk is written into: not a device, and not a file
    // whose other hard links would change with it.
    BY_HANDLE_FILE_INFORMATION info{};
    bool written = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                   info.nNumberOfLinks == 1;
    if (!written) {
        SetLastError(ERROR_ACCESS_DENIED);
    } else {
        written = writeFile(fromHandle(file), lines.data(), lines.size());
    }
    const DWORD error = GetLastError();
    const bool closed = CloseHandle(file) != 0;
    if (!written) {
        SetLastError(error);
    }
    return written && closed;
}

bool setFileAttributes(const char* path, uint32_t attributes) {
    DWORD current = INVALID_FILE_ATTRIBUTES;
    return attributesWithoutLinks(path, current) && SetFileAttributesA(path, attributes) != 0;
}

uint32_t lastError() {
    return GetLastError();
}

bool errorText(uint32_t error, std::string& text) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return false;
    }
    std::string words(buffer, length);
    LocalFree(buffer);
    // A message that names its subject as an insert names no one here.
    for (std::size_t at = words.find("%1"); at != std::string::npos; at = words.find("%1")) {
        words.replace(at, 2, at == 0 ? "The file" : "the file");
    }
    while (!words.empty() &&
           (words.back() == '\n' || words.back() == '\r' || words.back() == ' ')) {
        words.pop_back();
    }
    text = std::move(words);
    return !text.empty();
}

}  // namespace fw::win32
