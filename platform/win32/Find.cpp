// Folder listings through FindFirstFileA and FindNextFileA.
#include <windows.h>

#include "platform/win32/Backend.h"
#include "platform/win32/Handles.h"

namespace fw::win32 {

namespace {

void fillEntry(const WIN32_FIND_DATAA& data, FindEntry& entry) {
    entry.name = data.cFileName;
    entry.attributes = data.dwFileAttributes;
}

}  // namespace

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

}  // namespace fw::win32
