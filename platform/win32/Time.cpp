// Time conversions through Win32.
#include <windows.h>

#include "platform/win32/Backend.h"

namespace fw::win32 {

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

void localTime(SystemTime& now) {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    now = SystemTime{st.wYear, st.wMonth,  st.wDayOfWeek, st.wDay,
                     st.wHour, st.wMinute, st.wSecond,    st.wMilliseconds};
}

}  // namespace fw::win32
