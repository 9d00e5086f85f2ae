// The ANSI code page: GetACP, conversions from UTF-8, the run-time library's multibyte
// code page.
#include "platform/win32/Backend.h"

#include <string>
#include <utility>

// After the C++ headers: <mbctype.h> defines macros (_M1, _M2) that they use as names.
#include <mbctype.h>
#include <windows.h>

namespace fw::win32 {

uint32_t ansiCodePage() {
    return GetACP();
}

bool ansiFromUtf8(const char* utf8, std::string& ansi) {
    if (*utf8 == '\0') {
        ansi.clear();
        return true;
    }
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (units <= 0) {
        return false;
    }
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide.data(), units);
    // No best fit (which turns a character the code page lacks into a similar one) and
    // no default character: either would let two names become one.
    BOOL usedDefault = FALSE;
    const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr,
                                          0, nullptr, &usedDefault);
    if (bytes <= 0 || usedDefault) {
        return false;
    }
    std::string converted(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, converted.data(), bytes,
                        nullptr, &usedDefault);
    // Whatever still maps to another character shows on the way back.
    const int back = MultiByteToWideChar(CP_ACP, 0, converted.c_str(), -1, nullptr, 0);
    std::wstring again(static_cast<std::size_t>(back > 0 ? back : 0), L'\0');
    if (usedDefault || back != units ||
        MultiByteToWideChar(CP_ACP, 0, converted.c_str(), -1, again.data(), back) != back ||
        again != wide) {
        return false;
    }
    converted.pop_back();  // the NUL the conversion counted
    ansi = std::move(converted);
    return true;
}

void useAnsiMultibyteCodePage() {
    _setmbcp(_MB_CP_ANSI);
}

}  // namespace fw::win32
