#include "pe/IconGroup.h"

#include "platform/LittleEndian.h"

namespace fw::pe {

namespace {

// An icon file's directory entry; a group entry holds the same fields up to the size and
// then the id of its icon resource instead of the offset.
namespace iconEntry {
constexpr std::size_t width = 0;
constexpr std::size_t height = 1;
constexpr std::size_t colours = 2;
constexpr std::size_t planes = 4;
constexpr std::size_t bitCount = 6;
constexpr std::size_t size = 8;
constexpr std::size_t offset = 12;  // in a file
constexpr std::size_t id = 12;      // in a group
}  // namespace iconEntry

constexpr std::size_t kMostImages = 64;
constexpr std::string_view kPngSignature{"\x89PNG\r\n\x1A\n", 8};
constexpr uint32_t kBitmapHeaderSize = 40;
constexpr std::size_t kBitmapPlanes = 12;
constexpr std::size_t kBitmapBitCount = 14;

uint64_t field(std::string_view bytes, std::size_t at, int width) {
    return readLittle(bytes.data() + at, width);
}

// Reads the directory of a file or a group: its image count, when the header is sound.
bool readDirectory(std::string_view bytes, std::size_t entrySize, std::size_t& count) {
    if (bytes.size() < kIconDirectorySize || field(bytes, 0, 2) != 0 ||
        field(bytes, 2, 2) != kIconKind) {
        return false;
    }
    count = field(bytes, 4, 2);
    return bytes.size() >= kIconDirectorySize + count * entrySize;
}

IconImage imageFields(std::string_view entry) {
    IconImage image;
    image.width = static_cast<uint8_t>(entry[iconEntry::width]);
    image.height = static_cast<uint8_t>(entry[iconEntry::height]);
    image.colours = static_cast<uint8_t>(entry[iconEntry::colours]);
    image.planes = static_cast<uint16_t>(field(entry, iconEntry::planes, 2));
    image.bitCount = static_cast<uint16_t>(field(entry, iconEntry::bitCount, 2));
    return image;
}

// Why the bytes of image `number` are neither a PNG file nor a bitmap, or empty; a
// directory entry that leaves its planes and bits out gets them from the bitmap.
std::string checkImage(IconImage& image, std::size_t number) {
    const std::string_view data = image.data;
    if (data.substr(0, kPngSignature.size()) == kPngSignature) {
        image.planes = image.planes ? image.planes : 1;
        image.bitCount = image.bitCount ? image.bitCount : 32;
        return {};
    }
    if (data.size() < kBitmapHeaderSize || field(data, 0, 4) != kBitmapHeaderSize) {
        return "its image " + std::to_string(number) + " is neither a PNG nor a bitmap";
    }
    image.planes =
        image.planes ? image.planes : static_cast<uint16_t>(field(data, kBitmapPlanes, 2));
    image.bitCount =
        image.bitCount ? image.bitCount : static_cast<uint16_t>(field(data, kBitmapBitCount, 2));
    return {};
}

}  // namespace

std::string readIconFile(std::string_view bytes, std::vector<IconImage>& images) {
    images.clear();
    std::size_t count = 0;
    if (!readDirectory(bytes, kIconFileEntrySize, count)) {
        return "it is no icon file (its header is not that of an .ico file)";
    }
    if (count == 0 || count > kMostImages) {
        return "it holds " + std::to_string(count) + " images (an icon has 1 to 64)";
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view entry =
            bytes.substr(kIconDirectorySize + i * kIconFileEntrySize, kIconFileEntrySize);
        IconImage image = imageFields(entry);
        const uint64_t size = field(entry, iconEntry::size, 4);
        const uint64_t offset = field(entry, iconEntry::offset, 4);
        if (size == 0 || offset < kIconDirectorySize + count * kIconFileEntrySize ||
            offset > bytes.size() || size > bytes.size() - offset) {
            return "its image " + std::to_string(i + 1) + " lies outside the file";
        }
        image.data.assign(
            bytes.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(size)));
        if (std::string problem = checkImage(image, i + 1); !problem.empty()) {
            return problem;
        }
        images.push_back(std::move(image));
    }
    return {};
}

std::string iconGroup(const std::vector<IconImage>& images, const std::vector<uint16_t>& ids) {
    std::string group;
    appendLittle(group, 0, 2);
    appendLittle(group, kIconKind, 2);
    appendLittle(group, images.size(), 2);
    for (std::size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        group += static_cast<char>(image.width);
        group += static_cast<char>(image.height);
        group += static_cast<char>(image.colours);
        group += '\0';
        appendLittle(group, image.planes, 2);
        appendLittle(group, image.bitCount, 2);
        appendLittle(group, image.data.size(), 4);
        appendLittle(group, ids[i], 2);
    }
    return group;
}

bool readIconGroup(std::string_view group, std::vector<IconImage>& images,
                   std::vector<uint16_t>& ids) {
    images.clear();
    ids.clear();
    std::size_t count = 0;
    if (!readDirectory(group, kIconGroupEntrySize, count)) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view entry =
            group.substr(kIconDirectorySize + i * kIconGroupEntrySize, kIconGroupEntrySize);
        images.push_back(imageFields(entry));
        ids.push_back(static_cast<uint16_t>(field(entry, iconEntry::id, 2)));
    }
    return true;
}

std::string describeIcon(const IconImage& image) {
    const unsigned width = image.width != 0 ? image.width : 256;
    const unsigned height = image.height != 0 ? image.height : 256;
    return std::to_string(width) + "x" + std::to_string(height) + " (" +
           std::to_string(image.bitCount) + " bits)";
}

}  // namespace fw::pe
