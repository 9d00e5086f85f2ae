// What both packers decide alike of a Windows stub before writing: whether it holds the
// launcher marker (wherever it lies, across the pieces it is read in), and which of its
// bytes are its own when a payload table for a Linux launcher was appended to it.
#include "pack/WindowsLauncher.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/LittleEndian.h"
#include "res/resource.h"
#include "tests/pe/TestImages.h"
#include "tests/support/Programs.h"
#include "tests/support/TempPrefix.h"

namespace fw::test {
namespace {

const std::string kMarker = FERROWICK_LAUNCHER_MARKER_HEAD FERROWICK_LAUNCHER_MARKER_TAIL;
constexpr std::size_t kPiece = 1 << 20;  // what the search reads at a time

TEST(LauncherMarker, IsFoundWhereverItLies) {
    struct Case {
        const char* what;
        std::string bytes;
        uint64_t searched;  // how many of them are searched
        bool found;
    } cases[] = {
        {"at the start", kMarker + "rest", 100, true},
        {"across two pieces", std::string(kPiece - 5, 'a') + kMarker, 2 * kPiece, true},
        {"at the end of the second piece", std::string(2 * kPiece - kMarker.size(), 'a') + kMarker,
         2 * kPiece, true},
        {"past what is searched", std::string(64, 'a') + kMarker, 64 + kMarker.size() - 1, false},
        {"in halves",
         std::string(FERROWICK_LAUNCHER_MARKER_HEAD) + "x" + FERROWICK_LAUNCHER_MARKER_TAIL, 100,
         false},
        {"nowhere", std::string(3 * kPiece, 'a'), 3 * kPiece, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const uint64_t searched = std::min<uint64_t>(c.searched, c.bytes.size());
        EXPECT_EQ(pack::holdsLauncherMarker(readerOf(c.bytes), searched), c.found);
    }
}

// `image` with a table of one resource appended, as the Linux packer appends one.
std::string withTable(const std::string& image) {
    return withResources(image, {{"TIMELISTINGS", "#132", "x"}});
}

TEST(AppendedTable, IsLeftOutOfAWindowsStub) {
    const std::string image = imageWithResources();
    std::string badMagic = withTable(image);
    badMagic[badMagic.size() - 32] = 'X';
    std::string badOffset = withTable(image);
    storeLittle(badOffset.data() + badOffset.size() - 8, badOffset.size(), 8);
    std::string imageOverTable = withTable(image);
    char* trailer = imageOverTable.data() + imageOverTable.size() - 32;
    storeLittle(trailer + 8, readLittle(trailer + 24, 8) + 1, 8);  // image size, table offset
    struct Case {
        const char* what;
        std::string bytes;
        uint64_t own;
    } cases[] = {
        {"none", image, image.size()},
        {"a table", withTable(image), image.size()},
        {"a trailer without the magic", badMagic, badMagic.size()},
        {"a table offset past the trailer", badOffset, badOffset.size()},
        {"an image size over the table", imageOverTable, imageOverTable.size()},
        {"shorter than a trailer", "FWRSRC", 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(pack::withoutAppendedTable(readerOf(c.bytes), c.bytes.size()), c.own);
    }
}

}  // namespace
}  // namespace fw::test
