#include "platform/Mbcs.h"

#include "platform/Platform.h"

#ifdef _WIN32
#include <string>

// After the C++ headers: <mbctype.h> defines macros (_M1, _M2) that they use as names.
#include <mbctype.h>
#include <mbstring.h>
#endif

namespace fw::mbcs {

bool isLeadByte(uint32_t codePage, unsigned char byte) {
    switch (codePage) {
        case 932:  // Shift-JIS
            return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        case 936:  // GBK
        case 949:  // Unified Hangul
        case 950:  // Big5
            return byte >= 0x81 && byte <= 0xFE;
        default:
            return false;
    }
}

namespace {

// Calls `visit(offset)` at the start of every character until it returns true;
// gives that offset or npos. A lead byte at the very end stands alone.
template <typename Visit>
std::size_t scan(std::string_view text, Visit visit) {
    const uint32_t codePage = os().ansiCodePage();
    for (std::size_t i = 0; i < text.size();) {
        if (visit(i)) {
            return i;
        }
        const bool pair = isLeadByte(codePage, static_cast<unsigned char>(text[i])) &&
                          i + 1 < text.size() && text[i + 1] != '\0';
        i += pair ? 2 : 1;
    }
    return npos;
}

template <typename Match>
std::size_t scanLast(std::string_view text, Match match) {
    std::size_t last = npos;
    scan(text, [&](std::size_t i) {
        if (match(text[i])) {
            last = i;
        }
        return false;
    });
    return last;
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

#ifdef _WIN32
// On Windows the run-time library searches in the process's multibyte code page. A table
// in force that reports another code page (a test's) is served by the portable scan.
// The library's functions stop at a NUL, so text holding one takes the portable scan too.
bool useRuntimeLibrary(std::string_view text, std::string_view needle) {
    return text.find('\0') == npos && needle.find('\0') == npos &&
           os().ansiCodePage() == static_cast<uint32_t>(_getmbcp());
}

const unsigned char* bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.c_str());
}

std::size_t offsetIn(const std::string& s, const unsigned char* hit) {
    return hit ? static_cast<std::size_t>(hit - bytes(s)) : npos;
}
#endif

}  // namespace

std::size_t find(std::string_view text, char c) {
#ifdef _WIN32
    if (useRuntimeLibrary(text, std::string_view(&c, 1))) {
        const std::string s(text);
        return offsetIn(s, _mbschr(bytes(s), static_cast<unsigned char>(c)));
    }
#endif
    return scan(text, [&](std::size_t i) { return text[i] == c; });
}

std::size_t rfind(std::string_view text, char c) {
#ifdef _WIN32
    if (useRuntimeLibrary(text, std::string_view(&c, 1))) {
        const std::string s(text);
        return offsetIn(s, _mbsrchr(bytes(s), static_cast<unsigned char>(c)));
    }
#endif
    return scanLast(text, [&](char x) { return x == c; });
}

std::size_t findSeparator(std::string_view text) {
    return scan(text, [&](std::size_t i) { return isSeparator(text[i]); });
}

std::size_t rfindSeparator(std::string_view text) {
    return scanLast(text, isSeparator);
}

std::size_t findSubstring(std::string_view text, std::string_view needle) {
    if (needle.empty()) {
        return 0;
    }
#ifdef _WIN32
    if (useRuntimeLibrary(text, needle)) {
        const std::string s(text);
        const std::string n(needle);
        return offsetIn(s, _mbsstr(bytes(s), bytes(n)));
    }
#endif
    return scan(text, [&](std::size_t i) { return text.substr(i, needle.size()) == needle; });
}

}  // namespace fw::mbcs
