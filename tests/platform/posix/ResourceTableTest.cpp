// The resource table appended to a launcher: what is written is found again, byte for
// byte, and a table that does not add up loads nothing (and reads nothing out of bounds).
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/posix/ResourceTable.h"
#include "tests/support/Programs.h"
#include "tests/support/TempPrefix.h"

namespace fw::posix {
namespace {

using test::readHostFile;
using test::writeHostFile;

std::string layOut(const std::string& image, const std::vector<test::TestResource>& blobs) {
    return test::withResources(image, blobs);
}

uint64_t readLe(const std::string& bytes, std::size_t at, int width) {
    uint64_t value = 0;
    for (int i = 0; i < width; ++i) {
        value |= uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
    }
    return value;
}

void writeLe(std::string& bytes, std::size_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

class ResourceTableTest : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return prefix.root() + "/" + name; }
    test::TempPrefix prefix;
};

TEST_F(ResourceTableTest, FindsEveryResourceByIdOrNameInAnyLetterCase) {
    const std::string image =
        "\x7F"
        "ELF pretend image " +
        std::string(70000, 'i');
    const std::string payload = "BM" + std::string(52, 'p') + "PK\x03\x04 archive bytes";
    const std::string other(3 * kResourceAlignment + 5, 'o');
    const std::string file = layOut(
        image, {{"TIMELISTINGS", "#132", payload}, {"#10", "Extra", other}, {"Empty", "#1", ""}});
    ASSERT_TRUE(writeHostFile(path("launcher"), file));

    // Each resource starts on the next 64 KiB boundary; the last 8 bytes give the table's
    // offset, which follows the last resource.
    EXPECT_TRUE(file.compare(2 * kResourceAlignment, payload.size(), payload) == 0);
    EXPECT_TRUE(file.compare(3 * kResourceAlignment, other.size(), other) == 0);
    EXPECT_EQ(readLe(file, file.size() - 8, 8), 7 * kResourceAlignment);

    struct Case {
        const char* name;
        const char* type;
        std::string expected;
    } cases[] = {
        {"#132", "TIMELISTINGS", payload},  {"#132", "timelistings", payload},
        {"#0132", "TimeListings", payload}, {"extra", "#10", other},
        {"EXTRA", "#00010", other},         {"#1", "EMPTY", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " / " + c.type);
        const Resource r = loadResourceFromFile(path("launcher"), c.name, c.type);
        ASSERT_TRUE(r.loaded);
        ASSERT_NE(r.data, nullptr);
        EXPECT_EQ(r.size, c.expected.size());
        EXPECT_TRUE(std::string(reinterpret_cast<const char*>(r.data), r.size) == c.expected);
    }
}

TEST_F(ResourceTableTest, MissesWhatIsNotThere) {
    ASSERT_TRUE(
        writeHostFile(path("launcher"), layOut("image", {{"TIMELISTINGS", "#132", "payload"}})));
    const char* misses[][2] = {
        {"#133", "TIMELISTINGS"},   {"132", "TIMELISTINGS"}, {"#132", "TIMELISTING"},
        {"#132", "#132"},           {"#", "TIMELISTINGS"},   {"#1x2", "TIMELISTINGS"},
        {"#65668", "TIMELISTINGS"},  // 132 + 65536 must not wrap round to 132
        {"", "TIMELISTINGS"},
    };
    for (const auto& m : misses) {
        SCOPED_TRACE(std::string(m[0]) + " / " + m[1]);
        EXPECT_FALSE(loadResourceFromFile(path("launcher"), m[0], m[1]).loaded);
    }
    EXPECT_FALSE(loadResourceFromFile(path("no such file"), "#132", "TIMELISTINGS").loaded);
}

TEST_F(ResourceTableTest, ADamagedTableLoadsNothing) {
    const std::string good = layOut("image bytes", {{"TIMELISTINGS", "#132", "payload bytes"}});
    const std::size_t trailer = good.size() - kTrailerSize;
    const std::size_t record = static_cast<std::size_t>(readLe(good, good.size() - 8, 8));
    struct Case {
        const char* what;
        TableState state;
        std::function<void(std::string&)> damage;
    } cases[] = {
        {"trailer cut short", TableState::absent, [](std::string& f) { f.pop_back(); }},
        {"only part of a trailer", TableState::absent, [](std::string& f) { f.resize(20); }},
        {"bad magic", TableState::absent, [&](std::string& f) { f[trailer] = 'X'; }},
        {"misaligned data", TableState::damaged,
         [&](std::string& f) { writeLe(f, record + 12, kResourceAlignment + 4096, 8); }},
        {"data past the table", TableState::damaged,
         [&](std::string& f) { writeLe(f, record + 20, 1u << 20, 8); }},
        {"size that wraps round", TableState::damaged,
         [&](std::string& f) { writeLe(f, record + 20, ~uint64_t{0} - 100, 8); }},
        {"data inside the image", TableState::damaged,
         [&](std::string& f) { writeLe(f, record + 12, 0, 8); }},
        {"table offset past the file", TableState::damaged,
         [&](std::string& f) { writeLe(f, f.size() - 8, f.size() * 4, 8); }},
        {"table size wrong", TableState::damaged,
         [&](std::string& f) { writeLe(f, trailer + 20, 9, 4); }},
        {"too many entries", TableState::damaged,
         [&](std::string& f) { writeLe(f, trailer + 16, 2, 4); }},
        {"no entries but a record", TableState::damaged,
         [&](std::string& f) { writeLe(f, trailer + 16, 0, 4); }},
        {"name longer than the table", TableState::damaged,
         [&](std::string& f) { writeLe(f, record + 6, 0xFFFF, 2); }},
        {"image past the table", TableState::damaged,
         [&](std::string& f) { writeLe(f, trailer + 8, ~uint64_t{0}, 8); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = good;
        c.damage(file);
        ASSERT_TRUE(writeHostFile(path("launcher"), file));
        const int fd = open(path("launcher").c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(readResourceTable(fd).state, c.state);
        close(fd);
        EXPECT_FALSE(loadResourceFromFile(path("launcher"), "#132", "TIMELISTINGS").loaded);
    }
    // The undamaged file does load: the cases above fail for their damage alone.
    ASSERT_TRUE(writeHostFile(path("launcher"), good));
    EXPECT_TRUE(loadResourceFromFile(path("launcher"), "#132", "TIMELISTINGS").loaded);
}

TEST_F(ResourceTableTest, AnExecutableWithoutATableHasNoPayload) {
    // This test program is linked like a launcher but carries no resources.
    const Resource r = hostPlatform().findResource("#132", "TIMELISTINGS");
    EXPECT_FALSE(r.loaded);
    EXPECT_FALSE(hostPlatform().findResource(nullptr, "TIMELISTINGS").loaded);
}

}  // namespace
}  // namespace fw::posix
