#include "platform/Mbcs.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/ScopedEnv.h"

namespace fw {
namespace {

enum class Op { find, rfind, findSeparator, rfindSeparator, findSubstring };

struct SearchCase {
    const char* locale;
    std::string text;
    Op op;
    std::string what;  // the character or needle
    std::size_t expected;
};

std::size_t run(const SearchCase& c) {
    switch (c.op) {
        case Op::find:
            return mbcs::find(c.text, c.what[0]);
        case Op::rfind:
            return mbcs::rfind(c.text, c.what[0]);
        case Op::findSeparator:
            return mbcs::findSeparator(c.text);
        case Op::rfindSeparator:
            return mbcs::rfindSeparator(c.text);
        case Op::findSubstring:
            return mbcs::findSubstring(c.text, c.what);
    }
    return mbcs::npos;
}

using namespace std::string_literals;
constexpr auto npos = mbcs::npos;

TEST(MbcsTest, SearchesRespectDoubleByteCharacters) {
#ifdef _WIN32
    GTEST_SKIP() << "the ANSI code page is the system's on Windows: no locale makes it 936 here";
#endif
    const SearchCase cases[] = {
        // GBK: 0x81 0x5C is one character, so its 0x5C is no backslash.
        {"zh_CN.UTF-8", "\x81\x5C\\a", Op::find, "\\", 2},
        {"zh_CN.UTF-8", "a\\\x81\x5C", Op::rfind, "\\", 1},
        {"zh_CN.UTF-8", "a\\\x81\x5C", Op::rfindSeparator, "", 1},
        {"zh_CN.UTF-8", "\x81\x2F/", Op::findSeparator, "", 2},
        {"zh_CN.UTF-8", "\xB0\xB2\xD7\xB0", Op::find, "\xB2", npos},
        // Shift-JIS: 0x83 0x5C and 0x83 0x2F are single characters.
        {"ja_JP.UTF-8", "\x83\x5C\\x", Op::find, "\\", 2},
        {"ja_JP.UTF-8", "\x83\x2F", Op::findSeparator, "", npos},
        {"ja_JP.UTF-8", "\x83\x5C", Op::rfindSeparator, "", npos},
        // 0xA0..0xDF are single-byte katakana in Shift-JIS, no lead bytes.
        {"ja_JP.UTF-8", "\xB1\\", Op::find, "\\", 1},
        // A lead byte at the very end, or before a NUL, stands alone.
        {"zh_CN.UTF-8", "a\\\x81", Op::rfind, "\\", 1},
        {"zh_CN.UTF-8", "ab\x81", Op::find, "\x81", 2},
        {"zh_CN.UTF-8", "\x81\0\\"s, Op::find, "\\", 2},
        // Substrings match only where a character begins.
        {"zh_CN.UTF-8", "\x81\x41\x42", Op::findSubstring, "\x41\x42", npos},
        {"zh_CN.UTF-8", "\x81\x41\x41\x42", Op::findSubstring, "\x41\x42", 2},
        {"ja_JP.UTF-8", "x\x83\x5C\x5C", Op::findSubstring, "\x5C", 3},
        {"ja_JP.UTF-8", "x\x83\x5C\x5C", Op::findSubstring, "\x83\x5C", 1},
        {"zh_CN.UTF-8", "abc", Op::findSubstring, "", 0},
        {"zh_CN.UTF-8", "ab", Op::findSubstring, "abc", npos},
        // Single-byte code pages have no pairs.
        {"en_US.UTF-8", "\x81\x5C", Op::find, "\\", 1},
        {"ru_RU.UTF-8", "\xC4\x5C", Op::findSeparator, "", 1},
    };
    for (const SearchCase& c : cases) {
        test::ScopedLocale locale(c.locale);
        EXPECT_EQ(run(c), c.expected) << c.locale << " op " << static_cast<int>(c.op) << " in "
                                      << testing::PrintToString(c.text);
    }
}

TEST(MbcsTest, LeadBytesPerCodePage) {
    struct Case {
        uint32_t codePage;
        unsigned char byte;
        bool lead;
    };
    const Case cases[] = {
        {932, 0x81, true}, {932, 0x9F, true},   {932, 0xA0, false},  {932, 0xDF, false},
        {932, 0xE0, true}, {932, 0xFC, true},   {932, 0xFD, false},  {936, 0x80, false},
        {936, 0x81, true}, {936, 0xFE, true},   {936, 0xFF, false},  {949, 0x81, true},
        {950, 0xA4, true}, {1252, 0x81, false}, {1251, 0xC4, false}, {936, 0x5C, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mbcs::isLeadByte(c.codePage, c.byte), c.lead)
            << c.codePage << " " << static_cast<int>(c.byte);
    }
}

}  // namespace
}  // namespace fw
