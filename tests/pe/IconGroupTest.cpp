// Icon files as the packer takes them, and the icon group it makes of one: a file that
// Windows could not show is refused with the reason, and a group lists every image with
// the id of its own icon resource.
#include "pe/IconGroup.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/LittleEndian.h"

namespace fw::test {
namespace {

std::string u16(uint64_t v) {
    return little(v, 2);
}
std::string u32(uint64_t v) {
    return little(v, 4);
}

// A bitmap image of `n` pixels square in `bits` bits, as an icon file holds one.
std::string bitmap(int n, int bits) {
    const std::size_t pixels = static_cast<std::size_t>(n * n * bits / 8);
    return u32(40) + u32(static_cast<uint64_t>(n)) + u32(static_cast<uint64_t>(2 * n)) + u16(1) +
           u16(static_cast<uint64_t>(bits)) + std::string(24, '\0') + std::string(pixels, 'p') +
           std::string(static_cast<std::size_t>(4 * n), '\0');
}

const std::string kPng = std::string("\x89PNG\r\n\x1A\n", 8) + "rest of a PNG file";

// An icon file: its header of `count` entries (the images' own count by default), then
// each image's entry with the fields given, then the images.
struct Image {
    int size;  // 0 for 256
    int planes;
    int bits;
    std::string data;
};
std::string iconFile(const std::vector<Image>& images, int type = 1, int count = -1) {
    std::string file = u16(0) + u16(static_cast<uint64_t>(type)) +
                       u16(static_cast<uint64_t>(count < 0 ? images.size() : count));
    std::size_t at = 6 + 16 * images.size();
    for (const Image& i : images) {
        file += std::string(2, static_cast<char>(i.size)) + std::string(2, '\0') +
                u16(static_cast<uint64_t>(i.planes)) + u16(static_cast<uint64_t>(i.bits)) +
                u32(i.data.size()) + u32(at);
        at += i.data.size();
    }
    for (const Image& i : images) {
        file += i.data;
    }
    return file;
}

TEST(IconFile, IsRefusedWithTheReasonWhenWindowsCouldNotShowIt) {
    std::string cut = iconFile({{32, 1, 4, bitmap(32, 4)}});
    cut.pop_back();
    std::string pointsIntoHeader = iconFile({{16, 1, 32, bitmap(16, 32)}});
    pointsIntoHeader[6 + 12] = 4;  // the image's offset: inside the directory
    struct Case {
        const char* what;
        std::string file;
        std::string problem;
    } cases[] = {
        {"empty", "", "it is no icon file (its header is not that of an .ico file)"},
        {"a cursor file", iconFile({{32, 1, 4, bitmap(32, 4)}}, 2),
         "it is no icon file (its header is not that of an .ico file)"},
        {"its entries past its end", iconFile({{32, 1, 4, bitmap(32, 4)}}, 1, 9).substr(0, 40),
         "it is no icon file (its header is not that of an .ico file)"},
        {"no image", iconFile({}), "it holds 0 images (an icon has 1 to 64)"},
        {"an image cut short", cut, "its image 1 lies outside the file"},
        {"an image inside the directory", pointsIntoHeader, "its image 1 lies outside the file"},
        {"an image of neither kind",
         iconFile({{16, 1, 32, bitmap(16, 32)},
                   {32, 1, 32,
                    "GIF89a and more bytes than enough, "
                    "more than forty of them in all"}}),
         "its image 2 is neither a PNG nor a bitmap"},
        {"sound: bitmaps and a PNG",
         iconFile({{0, 1, 32, kPng}, {32, 1, 4, bitmap(32, 4)}, {16, 1, 32, bitmap(16, 32)}}), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<pe::IconImage> images;
        EXPECT_EQ(pe::readIconFile(c.file, images), c.problem);
    }
}

TEST(IconGroup, ListsEachImageWithItsIconResource) {
    // Entries that leave planes and bits out get them from the image.
    const std::string file =
        iconFile({{0, 0, 0, kPng}, {32, 0, 0, bitmap(32, 4)}, {16, 1, 8, bitmap(16, 8)}});
    std::vector<pe::IconImage> images;
    ASSERT_EQ(pe::readIconFile(file, images), "");
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[1].data, bitmap(32, 4));

    const std::string group = pe::iconGroup(images, {7, 8, 12});
    std::vector<pe::IconImage> listed;
    std::vector<uint16_t> ids;
    ASSERT_TRUE(pe::readIconGroup(group, listed, ids));
    EXPECT_EQ(ids, (std::vector<uint16_t>{7, 8, 12}));
    std::vector<std::string> described;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        described.push_back(pe::describeIcon(listed[i]) + " " + std::to_string(listed[i].planes));
        // Each entry names its image's size, which the loader reads it by.
        EXPECT_EQ(readLittle(group.data() + 6 + 14 * i + 8, 4), images[i].data.size());
    }
    EXPECT_EQ(described, (std::vector<std::string>{"256x256 (32 bits) 1", "32x32 (4 bits) 1",
                                                   "16x16 (8 bits) 1"}));
    EXPECT_FALSE(pe::readIconGroup(group.substr(0, group.size() - 1), listed, ids));
}

}  // namespace
}  // namespace fw::test
