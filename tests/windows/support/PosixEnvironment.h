// setenv, unsetenv and timegm for the shared tests when they are built for Windows,
// whose run-time library has _putenv_s and _mkgmtime instead. Force-included into the
// test programs.
#pragma once

#ifdef _WIN32
#include <stdlib.h>
#include <time.h>

inline int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && getenv(name)) {
        return 0;
    }
    return _putenv_s(name, value);
}

inline int unsetenv(const char* name) {
    return _putenv_s(name, "");
}

inline time_t timegm(struct tm* t) {
    return _mkgmtime(t);
}
#endif
