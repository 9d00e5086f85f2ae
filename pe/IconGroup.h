// Icons as an icon file (.ico) holds them and as a Windows image carries them: the file's
// directory and images, an icon group resource (RT_GROUP_ICON) that lists each image by
// the id of its own icon resource (RT_ICON), and the group's sizes for the check.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw::pe {

inline constexpr std::size_t kIconDirectorySize = 6;  // reserved, type, count
inline constexpr std::size_t kIconFileEntrySize = 16;
inline constexpr std::size_t kIconGroupEntrySize = 14;
inline constexpr uint16_t kIconKind = 1;  // the directory's type: icons, not cursors

// One image of an icon: its directory fields and its bytes (a PNG file, or a bitmap's
// information header, colours, pixels and mask).
struct IconImage {
    uint8_t width = 0;  // 0 stands for 256
    uint8_t height = 0;
    uint8_t colours = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    std::string data;
};

// Reads an icon file; why it is not one Windows can show, or empty.
std::string readIconFile(std::string_view bytes, std::vector<IconImage>& images);

// The group resource for `images`, whose icon resources have the ids `ids`, in order.
std::string iconGroup(const std::vector<IconImage>& images, const std::vector<uint16_t>& ids);

// The images a group resource lists: their fields (no data) and the ids of their icon
// resources. False when it is no group.
bool readIconGroup(std::string_view group, std::vector<IconImage>& images,
                   std::vector<uint16_t>& ids);

// "32x32 (4 bits)": how the check names an image.
std::string describeIcon(const IconImage& image);

}  // namespace fw::pe
