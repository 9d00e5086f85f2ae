// Files and folders through the Win32 "A" calls.
#include <windows.h>

#include <cstdio>
#include <limits>

#include "platform/win32/Win32Backend.h"

namespace fw::win32 {

namespace {

HANDLE toHandle(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}
std::intptr_t fromHandle(HANDLE h) {
    return reinterpret_cast<std::intptr_t>(h);
}

// ReadFile and WriteFile take a DWORD count: larger requests go in pieces.
constexpr std::size_t kMaxPiece = 1u << 30;

FILETIME toFiletime(const FileTime& t) {
    return FILETIME{t.low, t.high};
}

void fillEntry(const WIN32_FIND_DATAA& data, FindEntry& entry) {
    entry.name = data.cFileName;
    entry.attributes = data.dwFileAttributes;
}

}  // namespace

uint32_t getFileAttributes(const char* path) {
    return GetFileAttributesA(path);
}

bool createDirectory(const char* path) {
    return CreateDirectoryA(path, nullptr) != 0;
}

FileHandle openFile(const char* path) {
    return fromHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle createFile(const char* path, uint32_t attributes, bool alsoRead) {
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
    return std::remove(path) == 0;
}

bool copyFile(const char* source, const char* destination) {
    return CopyFileA(source, destination, FALSE) != 0;
}

FindHandle findFirst(const char* pattern, FindEntry& entry) {
    WIN32_FIND_DATAA data{};
    HANDLE find = FindFirstFileA(pattern, &data);
    if (find != INVALID_HANDLE_VALUE) {
        fillEntry(data, entry);
    }
    return fromHandle(find);
}

FindStep findNext(FindHandle find, FindEntry& entry) {
    WIN32_FIND_DATAA data{};
    if (FindNextFileA(toHandle(find), &data)) {
        fillEntry(data, entry);
        return FindStep::entry;
    }
    return GetLastError() == ERROR_NO_MORE_FILES ? FindStep::end : FindStep::failed;
}

void findClose(FindHandle find) {
    FindClose(toHandle(find));
}

bool currentDirectory(std::string& path) {
    // The first call tells the size with its NUL; the folder may change in between.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD need = GetCurrentDirectoryA(0, nullptr);
        if (need == 0) {
            return false;
        }
        std::string buffer(need, '\0');
        const DWORD got = GetCurrentDirectoryA(need, buffer.data());
        if (got == 0) {
            return false;
        }
        if (got < need) {
            buffer.resize(got);
            path = std::move(buffer);
            return true;
        }
    }
    return false;
}

}  // namespace fw::win32
