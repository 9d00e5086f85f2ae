#include "pe/VersionInfo.h"

#include <algorithm>

#include "platform/LittleEndian.h"

namespace fw::pe {

namespace {

constexpr std::size_t kBlockHeaderSize = 6;  // length, value's length, type
constexpr uint16_t kText = 1;
constexpr uint16_t kBinary = 0;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr std::size_t kFixedSize = 52;

// Fields of the fixed part (VS_FIXEDFILEINFO).
namespace fixed {
constexpr std::size_t signature = 0;
constexpr std::size_t structureVersion = 4;
constexpr std::size_t fileVersion = 8;  // most significant half, then least
constexpr std::size_t productVersion = 16;
constexpr std::size_t flagsMask = 24;
constexpr std::size_t os = 32;
constexpr std::size_t fileType = 36;
}  // namespace fixed

constexpr uint32_t kStructureVersion = 0x00010000;
constexpr uint32_t kAllFlags = 0x3F;
constexpr uint32_t kWindows32 = 4;
constexpr uint32_t kApplication = 1;
constexpr uint16_t kEnglishUs = 0x0409;
constexpr uint16_t kUnicode = 1200;

const std::u16string kRootKey = u"VS_VERSION_INFO";
const std::u16string kStringsKey = u"StringFileInfo";
const std::u16string kVarsKey = u"VarFileInfo";

std::size_t aligned(std::size_t at) {
    return (at + 3) / 4 * 4;
}

// Below the root and its two kinds of block, only a string table has children.
bool isLeaf(int depth, const std::u16string& parentKey) {
    return depth >= 3 || (depth == 2 && parentKey != kStringsKey);
}

std::string readBlock(std::string_view bytes, std::size_t at, std::size_t limit, int depth,
                      const std::u16string& parentKey, VersionBlock& block) {
    if (limit - at < kBlockHeaderSize) {
        return "a block is cut short";
    }
    const auto length = static_cast<std::size_t>(readLittle(bytes.data() + at, 2));
    block.valueLength = static_cast<uint16_t>(readLittle(bytes.data() + at + 2, 2));
    block.type = static_cast<uint16_t>(readLittle(bytes.data() + at + 4, 2));
    if (length < kBlockHeaderSize || length > limit - at) {
        return "a block's length runs past its parent";
    }
    const std::size_t end = at + length;
    std::size_t pos = at + kBlockHeaderSize;
    for (;;) {
        if (end - pos < 2) {
            return "a block's key is not closed";
        }
        const auto unit = static_cast<char16_t>(readLittle(bytes.data() + pos, 2));
        pos += 2;
        if (unit == 0) {
            break;
        }
        block.key += unit;
    }
    pos = std::min(aligned(pos), end);
    if (isLeaf(depth, parentKey)) {
        block.value.assign(bytes.substr(pos, end - pos));
        return {};
    }
    const std::size_t valueSize =
        block.type == kText ? 2 * std::size_t{block.valueLength} : std::size_t{block.valueLength};
    if (valueSize > end - pos) {
        return "a block's value runs past its end";
    }
    block.value.assign(bytes.substr(pos, valueSize));
    for (pos = aligned(pos + valueSize); pos < end; pos = aligned(pos)) {
        VersionBlock child;
        if (std::string problem = readBlock(bytes, pos, end, depth + 1, block.key, child);
            !problem.empty()) {
            return problem;
        }
        pos += static_cast<std::size_t>(readLittle(bytes.data() + pos, 2));
        block.children.push_back(std::move(child));
    }
    return {};
}

void encodeBlock(const VersionBlock& block, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + kBlockHeaderSize);
    for (char16_t unit : block.key) {
        appendLittle(out, unit, 2);
    }
    appendLittle(out, 0, 2);
    out.resize(aligned(out.size()), '\0');
    out += block.value;
    for (const VersionBlock& child : block.children) {
        out.resize(aligned(out.size()), '\0');
        encodeBlock(child, out);
    }
    storeLittle(out.data() + start, out.size() - start, 2);
    storeLittle(out.data() + start + 2, block.valueLength, 2);
    storeLittle(out.data() + start + 4, block.type, 2);
}

VersionBlock textBlock(const std::u16string& key, const std::u16string& value) {
    VersionBlock block;
    block.key = key;
    block.type = kText;
    if (!value.empty()) {
        for (char16_t unit : value) {
            appendLittle(block.value, unit, 2);
        }
        appendLittle(block.value, 0, 2);
        block.valueLength = static_cast<uint16_t>(value.size() + 1);
    }
    return block;
}

VersionBlock* childOf(VersionBlock& block, const std::u16string& key) {
    const auto at = std::find_if(block.children.begin(), block.children.end(),
                                 [&](const VersionBlock& c) { return c.key == key; });
    return at == block.children.end() ? nullptr : &*at;
}

std::u16string textOf(const std::string& value) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
        const auto unit = static_cast<char16_t>(readLittle(value.data() + i, 2));
        if (unit == 0) {
            break;
        }
        text += unit;
    }
    return text;
}

}  // namespace

std::string readVersionInfo(std::string_view bytes, VersionBlock& root) {
    root = VersionBlock{};
    if (std::string problem = readBlock(bytes, 0, bytes.size(), 0, {}, root); !problem.empty()) {
        return "its version information cannot be read: " + problem;
    }
    if (root.key != kRootKey || root.value.size() < kFixedSize ||
        readLittle(root.value.data() + fixed::signature, 4) != kFixedSignature) {
        return "its version information has no fixed part";
    }
    return {};
}

std::string encodeVersionInfo(const VersionBlock& root) {
    std::string out;
    encodeBlock(root, out);
    return out;
}

VersionBlock emptyVersionInfo() {
    VersionBlock root;
    root.key = kRootKey;
    root.type = kBinary;
    root.value.assign(kFixedSize, '\0');
    root.valueLength = kFixedSize;
    storeLittle(root.value.data() + fixed::signature, kFixedSignature, 4);
    storeLittle(root.value.data() + fixed::structureVersion, kStructureVersion, 4);
    storeLittle(root.value.data() + fixed::flagsMask, kAllFlags, 4);
    storeLittle(root.value.data() + fixed::os, kWindows32, 4);
    storeLittle(root.value.data() + fixed::fileType, kApplication, 4);
    VersionBlock strings = textBlock(kStringsKey, {});
    strings.children.push_back(textBlock(u"040904B0", {}));
    VersionBlock vars = textBlock(kVarsKey, {});
    VersionBlock translation;
    translation.key = u"Translation";
    translation.type = kBinary;
    appendLittle(translation.value, kEnglishUs, 2);
    appendLittle(translation.value, kUnicode, 2);
    translation.valueLength = 4;
    vars.children.push_back(std::move(translation));
    root.children.push_back(std::move(strings));
    root.children.push_back(std::move(vars));
    return root;
}

std::optional<std::array<uint16_t, 4>> versionNumbers(std::string_view text) {
    std::array<uint16_t, 4> numbers{};
    std::size_t count = 0;
    std::size_t at = 0;
    for (;;) {
        while (at < text.size() && text[at] == ' ') {
            ++at;
        }
        uint32_t number = 0;
        std::size_t digits = 0;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
            number = number * 10 + static_cast<uint32_t>(text[at] - '0');
            if (number > 0xFFFF) {
                return std::nullopt;
            }
        }
        while (at < text.size() && text[at] == ' ') {
            ++at;
        }
        if (digits == 0 || count == numbers.size()) {
            return std::nullopt;
        }
        numbers[count++] = static_cast<uint16_t>(number);
        if (at == text.size()) {
            return numbers;
        }
        if (text[at] != '.' && text[at] != ',') {
            return std::nullopt;
        }
        ++at;
    }
}

void setVersionString(VersionBlock& root, const std::u16string& key, const std::u16string& value) {
    VersionBlock* strings = childOf(root, kStringsKey);
    if (strings == nullptr) {
        root.children.insert(root.children.begin(), emptyVersionInfo().children.front());
        strings = &root.children.front();
    }
    if (strings->children.empty()) {
        strings->children.push_back(textBlock(u"040904B0", {}));
    }
    for (VersionBlock& table : strings->children) {
        if (VersionBlock* string = childOf(table, key)) {
            *string = textBlock(key, value);
        } else {
            table.children.push_back(textBlock(key, value));
        }
    }
}

void setFixedVersion(VersionBlock& root, FixedVersion which,
                     const std::array<uint16_t, 4>& numbers) {
    const std::size_t at = which == FixedVersion::file ? fixed::fileVersion : fixed::productVersion;
    storeLittle(root.value.data() + at, uint32_t{numbers[0]} << 16 | numbers[1], 4);
    storeLittle(root.value.data() + at + 4, uint32_t{numbers[2]} << 16 | numbers[3], 4);
}

std::optional<std::array<uint16_t, 4>> fixedVersion(const VersionBlock& root, FixedVersion which) {
    if (root.value.size() < kFixedSize) {
        return std::nullopt;
    }
    const std::size_t at = which == FixedVersion::file ? fixed::fileVersion : fixed::productVersion;
    const auto high = static_cast<uint32_t>(readLittle(root.value.data() + at, 4));
    const auto low = static_cast<uint32_t>(readLittle(root.value.data() + at + 4, 4));
    return std::array<uint16_t, 4>{static_cast<uint16_t>(high >> 16), static_cast<uint16_t>(high),
                                   static_cast<uint16_t>(low >> 16), static_cast<uint16_t>(low)};
}

std::vector<std::pair<std::u16string, std::u16string>> versionStrings(const VersionBlock& root) {
    std::vector<std::pair<std::u16string, std::u16string>> found;
    for (const VersionBlock& block : root.children) {
        if (block.key == kStringsKey && !block.children.empty()) {
            for (const VersionBlock& string : block.children.front().children) {
                found.emplace_back(string.key, textOf(string.value));
            }
            break;
        }
    }
    return found;
}

bool utf16FromUtf8(std::string_view utf8, std::u16string& out) {
    out.clear();
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80    ? 0
                          : lead >= 0xF0 ? 3
                          : lead >= 0xE0 ? 2
                          : lead >= 0xC0 ? 1
                                         : -1;
        if (extra < 0 || lead > 0xF4 || utf8.size() - i <= static_cast<std::size_t>(extra)) {
            return false;
        }
        uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = code << 6 | (next & 0x3F);
        }
        static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (code < kLeast[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        if (code >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

std::string utf8FromUtf16(std::u16string_view utf16) {
    std::string out;
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        uint32_t code = utf16[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (utf16[++i] - 0xDC00);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;  // a lone surrogate
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

}  // namespace fw::pe
