#include "pack/CodePageText.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/posix/CodePage.h"
#endif

namespace fw::pack {

bool knownCodePage(uint32_t codePage) {
    return codePage == 874 || codePage == 932 || codePage == 936 || codePage == 949 ||
           codePage == 950 || (codePage >= 1250 && codePage <= 1258);
}

#ifdef _WIN32

namespace {

std::wstring wide(std::string_view text, uint32_t codePage, bool& ok) {
    ok = true;
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int n =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ok = n > 0 &&
         MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, out.data(), n) == n;
    return out;
}

bool narrow(std::wstring_view text, uint32_t codePage, std::string& out) {
    out.clear();
    if (text.empty()) {
        return true;
    }
    const int size = static_cast<int>(text.size());
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr, 0,
                                      nullptr, &usedDefault);
    if (n <= 0 || usedDefault) {
        return false;
    }
    out.assign(static_cast<std::size_t>(n), '\0');
    if (WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(), size, out.data(), n,
                            nullptr, &usedDefault) != n ||
        usedDefault) {
        return false;
    }
    // The way back must give the same text: no character was approximated.
    bool ok = false;
    return wide(out, codePage, ok) == text && ok;
}

}  // namespace

bool codePageFromUtf8(std::string_view utf8, uint32_t codePage, std::string& out) {
    bool ok = false;
    const std::wstring text = wide(utf8, CP_UTF8, ok);
    return ok && narrow(text, codePage, out);
}

bool expressible(std::string_view bytes, uint32_t codePage) {
    bool ok = false;
    const std::wstring text = wide(bytes, codePage, ok);
    std::string back;
    return ok && narrow(text, codePage, back) && back == bytes;
}

bool nameInCodePage(const std::filesystem::path& name, uint32_t codePage, std::string& out) {
    return narrow(name.native(), codePage, out);
}

std::string shownName(std::string_view bytes, uint32_t codePage) {
    bool ok = false;
    const std::wstring text = wide(bytes, codePage, ok);
    std::string out;
    if (!ok || text.empty()) {
        return std::string(bytes);
    }
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    out.assign(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

#else

bool codePageFromUtf8(std::string_view utf8, uint32_t codePage, std::string& out) {
    // Exact only when the way back gives the same text ('?' stands in for what is missing).
    std::string converted;
    if (!posix::utf8ToAnsi(utf8, codePage, converted) ||
        posix::ansiToUtf8(converted, codePage) != utf8) {
        return false;
    }
    // The backend spells a byte no double-byte character begins with as U+F780..U+F7FF.
    if (codePage >= 932 && codePage <= 950 &&
        (utf8.find("\xEF\x9E") != std::string_view::npos ||
         utf8.find("\xEF\x9F") != std::string_view::npos)) {
        return false;
    }
    out = std::move(converted);
    return true;
}

bool expressible(std::string_view bytes, uint32_t codePage) {
    std::string back;
    return codePageFromUtf8(posix::ansiToUtf8(bytes, codePage), codePage, back) && back == bytes;
}

bool nameInCodePage(const std::filesystem::path& name, uint32_t codePage, std::string& out) {
    return codePageFromUtf8(name.native(), codePage, out);
}

std::string shownName(std::string_view bytes, uint32_t codePage) {
    return posix::ansiToUtf8(bytes, codePage);
}

#endif

}  // namespace fw::pack
