// The version resource: its numbers read from text, its blocks read and written again
// byte for byte, its strings set in place or added, and text that is cut short or no
// UTF-8 refused.
#include "pe/VersionInfo.h"

#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "pe/PeImage.h"
#include "pe/ResourceTree.h"
#include "tests/pe/TestImages.h"
#include "tests/support/TempPrefix.h"

namespace fw::test {
namespace {

using Numbers = std::array<uint16_t, 4>;

TEST(VersionNumbers, AreUpToFourNumbersSeparatedByDotsOrCommas) {
    struct Case {
        const char* text;
        std::optional<Numbers> numbers;
    } cases[] = {
        {"2.1.0.7", Numbers{2, 1, 0, 7}},
        {"1, 0, 0, 1", Numbers{1, 0, 0, 1}},  // as resource scripts write them
        {"3", Numbers{3, 0, 0, 0}},
        {"3.0", Numbers{3, 0, 0, 0}},
        {"65535.65535.65535.65535", Numbers{65535, 65535, 65535, 65535}},
        {"65536", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"2.x", std::nullopt},
        {"2.1 beta", std::nullopt},
        {"", std::nullopt},
        {"1..2", std::nullopt},
        {"2.1.", std::nullopt},
        {"-1", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(pe::versionNumbers(c.text), c.numbers);
    }
}

// The version resource of the launcher as built (when the cross build is there) and one
// made from nothing, read and written again.
std::vector<std::pair<std::string, std::string>> versionResources() {
    std::vector<std::pair<std::string, std::string>> found = {
        {"made from nothing", pe::encodeVersionInfo(pe::emptyVersionInfo())}};
    const std::string built = windowsLauncher();
    if (!std::filesystem::exists(built)) {
        return found;
    }
    const std::string bytes = readHostFile(built);
    pe::Image image;
    pe::ResourceDirectory root;
    EXPECT_EQ(pe::readImageResources(readerOf(bytes), bytes.size(), image, root), "");
    const pe::ResourceEntry* version = pe::findEntry(root, pe::resourceId(pe::kVersionType));
    if (version != nullptr) {
        const pe::ResourceData& data = pe::firstLeaf(*version)->data;
        found.emplace_back("the launcher as built", bytes.substr(data.fileOffset, data.size));
    }
    return found;
}

TEST(VersionInfo, IsWrittenAgainAsItWasRead) {
    for (const auto& [what, bytes] : versionResources()) {
        SCOPED_TRACE(what);
        pe::VersionBlock root;
        ASSERT_EQ(pe::readVersionInfo(bytes, root), "");
        EXPECT_EQ(pe::encodeVersionInfo(root), bytes);
        // Cut short anywhere, it is refused; with any byte changed, it is read or refused.
        for (std::size_t size = 0; size < bytes.size(); ++size) {
            EXPECT_NE(pe::readVersionInfo(bytes.substr(0, size), root), "") << size;
        }
        for (std::size_t at = 0; at < bytes.size(); ++at) {
            std::string changed = bytes;
            changed[at] = static_cast<char>(changed[at] ^ 0x41);
            static_cast<void>(pe::readVersionInfo(changed, root));
        }
    }
}

TEST(VersionInfo, SetsAStringInItsPlaceOrAddsIt) {
    for (const auto& [what, bytes] : versionResources()) {
        SCOPED_TRACE(what);
        pe::VersionBlock root;
        ASSERT_EQ(pe::readVersionInfo(bytes, root), "");
        const auto before = pe::versionStrings(root);
        pe::setVersionString(root, u"CompanyName", u"Orvelin Ltd");
        pe::setVersionString(root, u"LegalCopyright", u"\u00A9 2026");
        pe::setVersionString(root, u"LegalCopyright", u"\u00A9 2027");  // the later wins
        pe::setFixedVersion(root, pe::FixedVersion::product, {3, 1, 4, 1});

        pe::VersionBlock again;
        ASSERT_EQ(pe::readVersionInfo(pe::encodeVersionInfo(root), again), "");
        auto expected = before;
        bool replaced = false;
        for (auto& [key, value] : expected) {
            if (key == u"CompanyName") {
                value = u"Orvelin Ltd";
                replaced = true;
            }
        }
        if (!replaced) {
            expected.emplace_back(u"CompanyName", u"Orvelin Ltd");
        }
        expected.emplace_back(u"LegalCopyright", u"\u00A9 2027");
        EXPECT_EQ(pe::versionStrings(again), expected);
        EXPECT_EQ(pe::fixedVersion(again, pe::FixedVersion::product), (Numbers{3, 1, 4, 1}));
        EXPECT_EQ(pe::fixedVersion(again, pe::FixedVersion::file),
                  pe::fixedVersion(root, pe::FixedVersion::file));
    }
}

TEST(VersionText, IsUtf8OrRefused) {
    struct Case {
        const char* what;
        std::string utf8;
        std::optional<std::u16string> utf16;
    } cases[] = {
        {"ASCII", "Orvelin", u"Orvelin"},
        {"two bytes", "\xC2\xA9", u"\u00A9"},
        {"three bytes", "\xE6\x95\xB0", u"\u6570"},
        {"four bytes, a surrogate pair", "\xF0\x9F\x94\x91", u"\U0001F511"},
        {"a stray continuation byte", "\x80", std::nullopt},
        {"a lead byte cut short", "\xE6\x95", std::nullopt},
        {"an overlong form", "\xC0\xAF", std::nullopt},
        {"a surrogate", "\xED\xA0\x80", std::nullopt},
        {"past U+10FFFF", "\xF4\x90\x80\x80", std::nullopt},
        {"code page 1252", "Caf\xE9", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::u16string out;
        EXPECT_EQ(pe::utf16FromUtf8(c.utf8, out), c.utf16.has_value());
        if (c.utf16) {
            EXPECT_EQ(out, *c.utf16);
            EXPECT_EQ(pe::utf8FromUtf16(out), c.utf8);
        }
    }
}

}  // namespace
}  // namespace fw::test
