#include "platform/posix/CodePage.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>

#include "platform/Mbcs.h"
#include "platform/posix/Backend.h"

namespace fw::posix {

namespace {

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isDoubleByte(uint32_t codePage) {
    return mbcs::isLeadByte(codePage, 0x81);
}

// Decodes one UTF-8 character at `pos`; false (and nothing set) when it is not valid
// UTF-8: a stray or missing continuation byte, an overlong form, a surrogate, or a
// value beyond U+10FFFF.
bool decodeUtf8(std::string_view text, std::size_t pos, char32_t& value, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        value = lead;
        length = 1;
        return true;
    }
    std::size_t n = 0;
    char32_t v = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2, v = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3, v = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4, v = lead & 0x07, minimum = 0x10000;
    } else {
        return false;
    }
    if (pos + n > text.size()) {
        return false;
    }
    for (std::size_t i = 1; i < n; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            return false;
        }
        v = (v << 6) | (byte(pos + i) & 0x3F);
    }
    if (v < minimum || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) {
        return false;
    }
    value = v;
    length = n;
    return true;
}

void appendUtf8(std::string& out, char32_t v) {
    if (v < 0x80) {
        out += static_cast<char>(v);
    } else if (v < 0x800) {
        out += static_cast<char>(0xC0 | (v >> 6));
        out += static_cast<char>(0x80 | (v & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (v >> 12));
        out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (v & 0x3F));
    }
}

// Stand-ins for bytes a code page does not define. Single-byte code pages use U+0080..
// U+00FF as Windows does for CP1252's holes (0x81 -> U+0081); double-byte ones use a
// private-use block so that the byte survives the way back.
constexpr char32_t kDoubleByteStandIn = 0xF700;

char32_t standInFor(unsigned char byte, uint32_t codePage) {
    if (byte < 0x80 || !isDoubleByte(codePage)) {
        return byte;
    }
    return kDoubleByteStandIn + byte;
}

char standInBack(char32_t value, uint32_t codePage) {
    if (!isDoubleByte(codePage) && value >= 0x80 && value <= 0x9F) {
        return static_cast<char>(value);
    }
    if (isDoubleByte(codePage) && value >= kDoubleByteStandIn + 0x80 &&
        value <= kDoubleByteStandIn + 0xFF) {
        return static_cast<char>(value - kDoubleByteStandIn);
    }
    return '?';
}

// Opened descriptors, kept for the life of the process: conversions happen on every
// path that is not plain ASCII. A descriptor holds a conversion's state, so one
// conversion at a time uses the cache (several threads may convert).
std::mutex& convertersLock() {
    static auto* const lock = new std::mutex;  // never destroyed: paths are converted at exit
    return *lock;
}

struct Converter {
    uint32_t codePage = 0;
    bool toUtf8 = false;
    iconv_t cd = reinterpret_cast<iconv_t>(-1);
};

iconv_t converter(uint32_t codePage, bool toUtf8) {
    static std::array<Converter, 8> cache;
    static std::size_t used = 0;
    for (std::size_t i = 0; i < used; ++i) {
        if (cache[i].codePage == codePage && cache[i].toUtf8 == toUtf8) {
            iconv(cache[i].cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
            return cache[i].cd;
        }
    }
    const std::string name = "CP" + std::to_string(codePage);
    const iconv_t cd =
        toUtf8 ? iconv_open("UTF-8", name.c_str()) : iconv_open(name.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return cd;
    }
    if (used == cache.size()) {
        iconv_close(cache[0].cd);
        std::move(cache.begin() + 1, cache.end(), cache.begin());
        --used;
    }
    cache[used++] = Converter{codePage, toUtf8, cd};
    return cd;
}

// Runs iconv over `in`, growing `out` as needed. On a sequence iconv refuses, calls
// `onError(offset)`, which appends its own output and returns how many input bytes to
// skip (0: give up). False when it gave up.
template <typename OnError>
bool convert(iconv_t cd, std::string_view in, std::string& out, OnError onError) {
    std::string buffer(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    std::size_t written = 0;
    while (srcLeft > 0) {
        char* dst = buffer.data() + written;
        std::size_t dstLeft = buffer.size() - written;
        std::size_t result = static_cast<std::size_t>(-1);
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            result = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        } else {
            errno = EILSEQ;
        }
        written = static_cast<std::size_t>(dst - buffer.data());
        if (result != static_cast<std::size_t>(-1)) {
            break;
        }
        if (errno == E2BIG) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        std::string piece;
        const std::size_t skip = onError(static_cast<std::size_t>(src - in.data()), piece);
        if (skip == 0) {
            return false;
        }
        if (written + piece.size() > buffer.size()) {
            buffer.resize(buffer.size() * 2 + piece.size());
        }
        std::copy(piece.begin(), piece.end(),
                  buffer.begin() + static_cast<std::ptrdiff_t>(written));
        written += piece.size();
        src += skip;
        srcLeft -= skip;
    }
    buffer.resize(written);
    out = std::move(buffer);
    return true;
}

}  // namespace

uint32_t codePageForLocale(std::string_view locale) {
    const std::size_t languageEnd = locale.find_first_of("_.@");
    const std::string language = lowerAscii(locale.substr(0, languageEnd));
    std::string territory;
    if (languageEnd != std::string_view::npos && locale[languageEnd] == '_') {
        const std::string_view rest = locale.substr(languageEnd + 1);
        territory = lowerAscii(rest.substr(0, rest.find_first_of(".@")));
    }
    std::string modifier;
    if (const std::size_t at = locale.find('@'); at != std::string_view::npos) {
        modifier = lowerAscii(locale.substr(at + 1));
    }

    if (language == "zh") {
        return (territory == "tw" || territory == "hk" || territory == "mo") ? 950 : 936;
    }
    if (language == "ja") {
        return 932;
    }
    if (language == "ko") {
        return 949;
    }
    static constexpr std::array<std::string_view, 13> cyrillic = {
        "ba", "be", "bg", "kk", "ky", "mk", "mn", "ru", "sah", "sr", "tg", "tt", "uk"};
    const bool isCyrillic = std::find(cyrillic.begin(), cyrillic.end(), language) != cyrillic.end();
    if ((isCyrillic && modifier != "latin") || modifier == "cyrillic") {
        return 1251;
    }
    return 1252;
}

uint32_t ansiCodePage() {
    // The first non-empty of the variables decides, as for LC_CTYPE. Read on every call
    // (cheap, and nothing shared between threads), so that a changed environment takes
    // effect.
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return codePageForLocale(value);
        }
    }
    return codePageForLocale({});
}

std::string ansiToUtf8(std::string_view ansi, uint32_t codePage) {
    if (isAscii(ansi)) {
        return std::string(ansi);
    }
    std::string out;
    const std::lock_guard guard(convertersLock());
    convert(converter(codePage, true), ansi, out, [&](std::size_t offset, std::string& piece) {
        appendUtf8(piece, standInFor(static_cast<unsigned char>(ansi[offset]), codePage));
        return std::size_t{1};
    });
    return out;
}

bool utf8ToAnsi(std::string_view utf8, uint32_t codePage, std::string& ansi) {
    if (isAscii(utf8)) {
        ansi.assign(utf8);
        return true;
    }
    // Validate first, so that iconv's refusals below are only missing characters.
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t value = 0;
        std::size_t length = 0;
        if (!decodeUtf8(utf8, i, value, length)) {
            return false;
        }
        i += length;
    }
    const std::lock_guard guard(convertersLock());
    return convert(converter(codePage, false), utf8, ansi,
                   [&](std::size_t offset, std::string& piece) {
                       char32_t value = 0;
                       std::size_t length = 0;
                       if (!decodeUtf8(utf8, offset, value, length)) {
                           return std::size_t{0};
                       }
                       piece += standInBack(value, codePage);
                       return length;
                   });
}

bool ansiFromUtf8(const char* utf8, std::string& ansi) {
    // Exact only when the way back gives the same text: a character the code page lacks
    // came out as '?', and U+0080 as the byte 0x80, which is the euro sign in 1252.
    const uint32_t codePage = ansiCodePage();
    const std::string_view text(utf8);
    std::string converted;
    if (!utf8ToAnsi(text, codePage, converted) || ansiToUtf8(converted, codePage) != text) {
        return false;
    }
    // Nor does a double-byte code page's stand-in (U+F780 to U+F7FF, in UTF-8 EF 9E xx and
    // EF 9F xx) count: it is this backend's spelling of a byte no character begins with.
    if (isDoubleByte(codePage) && (text.find("\xEF\x9E") != std::string_view::npos ||
                                   text.find("\xEF\x9F") != std::string_view::npos)) {
        return false;
    }
    ansi = std::move(converted);
    return true;
}

std::size_t utf16Length(std::string_view utf8) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t value = 0;
        std::size_t length = 0;
        if (decodeUtf8(utf8, i, value, length)) {
            units += value >= 0x10000 ? 2 : 1;
            i += length;
        } else {
            units += 1;
            i += 1;
        }
    }
    return units;
}

}  // namespace fw::posix
