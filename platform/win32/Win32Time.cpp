// Code page and time conversions through Win32 and the run-time library.
#include "platform/win32/Win32Backend.h"

// After the C++ headers: <mbctype.h> defines macros (_M1, _M2) that they use as names.
#include <mbctype.h>
#include <windows.h>

namespace fw::win32 {

uint32_t ansiCodePage() {
    return GetACP();
}

bool systemTimeToFileTime(const SystemTime& system, FileTime& file) {
    const SYSTEMTIME st{system.year, system.month,  system.dayOfWeek, system.day,
                        system.hour, system.minute, system.second,    system.milliseconds};
    FILETIME ft{};
    if (!SystemTimeToFileTime(&st, &ft)) {
        return false;
    }
    file = FileTime{ft.dwLowDateTime, ft.dwHighDateTime};
    return true;
}

bool localFileTimeToFileTime(const FileTime& local, FileTime& utc) {
    const FILETIME in{local.low, local.high};
    FILETIME out{};
    if (!LocalFileTimeToFileTime(&in, &out)) {
        return false;
    }
    utc = FileTime{out.dwLowDateTime, out.dwHighDateTime};
    return true;
}

void useAnsiMultibyteCodePage() {
    _setmbcp(_MB_CP_ANSI);
}

}  // namespace fw::win32
