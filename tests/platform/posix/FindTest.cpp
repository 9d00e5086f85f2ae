// Folder listings: order, patterns, the normal end and failures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempPrefix.h"

namespace fw {
namespace {

struct Listed {
    std::vector<std::string> names;  // in listing order
    std::map<std::string, uint32_t> attributes;
    FindStep last = FindStep::end;
    bool opened = false;
};

Listed list(const std::string& pattern) {
    Listed out;
    FindEntry entry;
    const FindHandle find = os().findFirst(pattern.c_str(), entry);
    if (find == kInvalidFind) {
        return out;
    }
    out.opened = true;
    FindStep step = FindStep::entry;
    for (; step == FindStep::entry; step = os().findNext(find, entry)) {
        out.names.push_back(entry.name);
        out.attributes[entry.name] = entry.attributes;
    }
    out.last = step;
    if (step == FindStep::end) {
        EXPECT_EQ(os().findNext(find, entry), FindStep::end);  // and stays there
    }
    os().findClose(find);
    return out;
}

class FindTest : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* file : {"C:\\F\\one.txt", "C:\\F\\Two.TXT", "C:\\F\\three.bin",
                                 "C:\\F\\noext", "C:\\F\\Sub\\inner.txt"}) {
            ASSERT_TRUE(test::writeHostFile(prefix.host(file), "x"));
        }
        ASSERT_EQ(chmod(prefix.host("C:\\F\\three.bin").c_str(), 0444), 0);
    }
    test::ScopedLocale locale{"en_US.UTF-8"};
    test::TempPrefix prefix;
};

TEST_F(FindTest, DotsFirstThenEveryEntryOnce) {
    const Listed listed = list("C:\\F\\*");
    ASSERT_TRUE(listed.opened);
    EXPECT_EQ(listed.last, FindStep::end);
    ASSERT_EQ(listed.names.size(), 7u);
    EXPECT_EQ(listed.names[0], ".");
    EXPECT_EQ(listed.names[1], "..");
    const std::map<std::string, uint32_t> expected = {
        {".", kAttrDirectory},     {"..", kAttrDirectory},
        {"one.txt", kAttrArchive}, {"Two.TXT", kAttrArchive},
        {"noext", kAttrArchive},   {"three.bin", kAttrArchive | kAttrReadOnly},
        {"Sub", kAttrDirectory},
    };
    EXPECT_EQ(listed.attributes, expected);
}

TEST_F(FindTest, DriveRootsHaveNoDots) {
    const Listed listed = list("C:\\*");
    EXPECT_EQ(listed.names, std::vector<std::string>{"F"});
}

TEST_F(FindTest, PatternsMatchNamesInAnyLetterCase) {
    struct Case {
        std::string pattern;
        std::vector<std::string> sortedNames;  // empty: no listing at all
    };
    const Case cases[] = {
        {"C:\\F\\*.txt", {"Two.TXT", "one.txt"}},
        {"c:/f/*.TXT", {"Two.TXT", "one.txt"}},
        {"C:\\F\\t*", {"Two.TXT", "three.bin"}},
        {"C:\\F\\???.txt", {"Two.TXT", "one.txt"}},
        {"C:\\F\\*.*", {".", "..", "Sub", "Two.TXT", "noext", "one.txt", "three.bin"}},
        {"C:\\F\\NOEXT", {"noext"}},
        {"C:\\F\\*.none", {}},
        {"C:\\F\\", {}},
        {"C:\\Missing\\*", {}},
        {"C:\\F\\one.txt\\*", {}},
        {"\\\\server\\share\\*", {}},
    };
    for (const Case& c : cases) {
        Listed listed = list(c.pattern);
        EXPECT_EQ(listed.opened, !c.sortedNames.empty()) << c.pattern;
        std::sort(listed.names.begin(), listed.names.end());
        EXPECT_EQ(listed.names, c.sortedNames) << c.pattern;
    }
}

TEST_F(FindTest, RelativePatternsListTheCurrentDirectory) {
    test::ScopedCwd cwd(prefix.host("C:\\F\\Sub"));
    ASSERT_TRUE(cwd.ok());
    EXPECT_EQ(list("*").names, (std::vector<std::string>{".", "..", "inner.txt"}));
    EXPECT_EQ(list("..\\*.bin").names, std::vector<std::string>{"three.bin"});
}

TEST_F(FindTest, ListsNamesTheCodePageCannotCarryAndLinksAsWindowsDoes) {
    // Bytes that are no UTF-8 and a character code page 1252 lacks come out as its
    // default character, and the listing goes on; links are reparse points.
    ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\Odd\\name\xFF\xFE.txt"), "x"));
    ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\Odd\\\xE4\xB8\xAD.txt"), "x"));
    ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\Odd\\z.txt"), "x"));
    ASSERT_EQ(symlink(".", prefix.host("C:\\Odd\\loop").c_str()), 0);
    ASSERT_EQ(symlink("z.txt", prefix.host("C:\\Odd\\zlink").c_str()), 0);
    ASSERT_EQ(mkfifo(prefix.host("C:\\Odd\\fifo").c_str(), 0644), 0);
    const Listed listed = list("C:\\Odd\\*");
    EXPECT_EQ(listed.last, FindStep::end);
    const std::map<std::string, uint32_t> expected = {
        {".", kAttrDirectory},
        {"..", kAttrDirectory},
        {"name??.txt", kAttrArchive},
        {"?.txt", kAttrArchive},
        {"z.txt", kAttrArchive},
        {"loop", kAttrDirectory | kAttrReparsePoint},
        {"zlink", kAttrArchive | kAttrReparsePoint},
        {"fifo", kAttrArchive},
    };
    EXPECT_EQ(listed.attributes, expected);

    FindEntry entry;
    EXPECT_EQ(os().findNext(kInvalidFind, entry), FindStep::failed);
    os().findClose(kInvalidFind);  // harmless
}

}  // namespace
}  // namespace fw
