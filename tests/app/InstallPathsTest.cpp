// The texts derived from item names and from the command line: the top folder and
// where a path lies.
#include <gtest/gtest.h>

#include <string>

#include "app/InstallPaths.h"
#include "tests/support/RecordingPlatform.h"

namespace {

TEST(InstallPathsTest, IsTheTextBeforeTheFirstBackslashElseTheFirstSlash) {
    struct Case {
        uint32_t codePage;
        std::string name;
        std::string top;
    };
    const Case cases[] = {
        {1252, "disk1/a.txt", "disk1"},
        {1252, "a/b\\x.txt", "a/b"},
        {1252, "a\\b/x.txt", "a"},
        {1252, "readme.txt", ""},
        {1252, "/x.txt", ""},
        {1252, "\\x.txt", ""},
        {1252, "", ""},
        {1252, "disk1 \t\n\r\v\f/x.txt", "disk1"},
        {1252, " disk1/x.txt", " disk1"},
        // 0x81 0x5C and 0x81 0x2F are single characters in code page 936.
        {936, "ab\x81\\c/x.txt", "ab\x81\\c"},
        {936, "ab\x81/c\\x.txt", "ab\x81/c"},
        {936, "ab\x81\\", ""},
        // In a single-byte code page the same bytes are plain separators.
        {1252, "ab\x81\\c/x.txt", "ab\x81"},
    };
    fw::test::RecordingPlatform platform;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform.script.codePage = c.codePage;
        EXPECT_EQ(TopFolderOf(c.name), c.top);
    }
}

TEST(InstallPathsTest, TellsAPathInAFolderHoweverItIsSpelled) {
    const std::string unzip = "C:\\Temp\\_Download\\_UnZip";
    const std::string product = "C:\\Product_Released\\Pellmoor";
    struct Case {
        std::string path;
        std::string folder;
        std::string currentDirectory;
        bool within;
    };
    const Case cases[] = {
        {"C:\\Temp\\_Download\\_UnZip\\x.log", unzip, "Z:\\home", true},
        {"c:/temp/_download/_unzip", unzip, "Z:\\home", true},
        {"C:\\Temp\\_Download\\_UnZip.\\x.log", unzip, "Z:\\home", true},
        {"C:\\Temp\\_Download\\_UnZip \\x.log", unzip, "Z:\\home", true},
        {"C:\\Temp\\_Download\\x\\..\\.\\_UnZip\\y", unzip, "Z:\\home", true},
        {"C:\\..\\..\\Temp\\_Download\\_UnZip\\x", unzip, "Z:\\home", true},
        {"\\\\?\\C:\\Temp\\_Download\\_UnZip\\x", unzip, "Z:\\home", true},
        {"C:\\Temp\\_Download\\Ferrowick.log", unzip, "Z:\\home", false},
        {"C:\\Temp\\_Download\\_UnZipped\\x", unzip, "Z:\\home", false},
        {"D:\\Temp\\_Download\\_UnZip\\x", unzip, "Z:\\home", false},
        {"\\\\server\\C$\\Temp\\_Download\\_UnZip\\x", unzip, "C:\\", false},
        // Without a drive or root: from the current folder, or that drive's root.
        {"x.log", unzip, "C:\\Temp\\_Download\\_UnZip\\disk1", true},
        {"..\\..\\x.log", unzip, "C:\\Temp\\_Download\\_UnZip\\disk1", false},
        {"C:x.log", unzip, "c:\\temp\\_download\\_unzip", true},
        {"C:x.log", unzip, "D:\\Temp\\_Download\\_UnZip", false},
        {"\\Temp\\_Download\\_UnZip\\x", unzip, "C:\\Users", true},
        {"\\Temp\\_Download\\_UnZip\\x", unzip, "D:\\Work", false},
        {"x.log", unzip, "", false},
        {"C:\\Product_Released\\Pellmoor\\sub\\a.log", product, "Z:\\home", true},
        {"C:\\Product_Released\\a.log", product, "Z:\\home", false},
    };
    fw::test::RecordingPlatform platform;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " in " + c.folder + " from " + c.currentDirectory);
        EXPECT_EQ(LiesWithin(c.path, c.folder, c.currentDirectory), c.within);
    }
}

}  // namespace
