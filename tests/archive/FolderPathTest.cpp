// EnsureFolderPath: which levels are tested, in which order, and which are created.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/archive/ArchiveFixture.h"

namespace fw::test {
namespace {

// Records the paths whose attributes are asked for; everything else goes to the host.
class AttributeQueries {
  public:
    AttributeQueries() : table_(hostPlatform()) {
        log().clear();
        table_.getFileAttributes = [](const char* path) {
            log().push_back(path);
            return hostPlatform().getFileAttributes(path);
        };
        previous_ = setPlatform(&table_);
    }
    ~AttributeQueries() { setPlatform(previous_); }
    AttributeQueries(const AttributeQueries&) = delete;
    AttributeQueries& operator=(const AttributeQueries&) = delete;
    static std::vector<std::string>& log() {
        static std::vector<std::string> paths;
        return paths;
    }

  private:
    Platform table_;
    const Platform* previous_;
};

using Paths = std::vector<std::string>;
using FolderPathTest = ArchiveFixture;

TEST_F(FolderPathTest, LevelsAreTestedFromTheShallowestDown) {
#ifdef _WIN32
    GTEST_SKIP() << "the ANSI code page is the system's on Windows: no locale makes it 936 here";
#endif
    const std::string dbcs = "C:/x\x81\x5Cy/z";  // one character 0x81 0x5C inside a name
    const std::string deep = "C:/d/" + std::string(300, 'q');
    struct Case {
        const char* base;
        std::string path;
        Paths tested;
    };
    const Case cases[] = {
        {nullptr, "C:/a/b/", {"C:", "C:/a", "C:/a/b", "C:/a/b/"}},
        {nullptr, "\\m\\n", {"\\m", "\\m\\n"}},
        {nullptr, "C:/p\\q/r", {"C:", "C:/p", "C:/p\\q", "C:/p\\q/r"}},
        {"C:\\base\\", "s/t", {"C:\\base\\", "C:\\base\\", "C:\\base\\s", "C:\\base\\s/t"}},
        {"C:\\base\\", "", {"C:\\base\\"}},
        {nullptr, dbcs, {"C:", "C:/x\x81\x5Cy", dbcs}},
        {nullptr, deep, {"C:", "C:/d"}},  // a level over 259 characters is never tested
    };
    ScopedLocale chinese(kChinese);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        AttributeQueries queries;
        EnsureFolderPath(c.base, c.path.c_str());
        EXPECT_EQ(AttributeQueries::log(), c.tested);
    }
    EXPECT_TRUE(std::filesystem::is_directory(prefix.host("C:/a/b")));
    EXPECT_TRUE(std::filesystem::is_directory(prefix.host("C:/base/s/t")));
    EXPECT_TRUE(std::filesystem::is_directory(prefix.host("C:/p/q/r")));
    EXPECT_TRUE(std::filesystem::is_directory(prefix.host("C:/d")));
}

TEST_F(FolderPathTest, ExistingPathsAreLeftAlone) {
    ASSERT_TRUE(writeHostFile(prefix.host("C:/e/file"), "keep"));
    EnsureFolderPath(nullptr, "C:/e/file/below");
    EXPECT_EQ(read("C:/e/file"), "keep");
    EXPECT_FALSE(exists("C:/e/file/below"));
}

}  // namespace
}  // namespace fw::test
