// A Windows executable's resource tree: directory tables of types, names and languages,
// whose leaves point at the resources' data. Read from the resource section of an image
// and laid out anew for a section of the same form; the data itself is never held,
// only where it lies.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pe/PeImage.h"

namespace fw::pe {

// A type, name or language: a whole number, or a name (UTF-16) when `text` is not empty.
struct ResourceKey {
    uint16_t id = 0;
    std::u16string text;
    bool named() const { return !text.empty(); }
};

// Where a leaf's bytes come from when the section is written.
enum class DataSource {
    image,    // `size` bytes at `fileOffset` in the image read
    held,     // the bytes in `held`
    payload,  // the new payload, supplied by the writer
};

struct ResourceData {
    DataSource source = DataSource::image;
    uint64_t fileOffset = 0;
    std::string held;
    uint32_t size = 0;
    uint32_t codePage = 0;
    uint32_t reserved = 0;
};

struct ResourceDirectory;

struct ResourceEntry {
    ResourceKey key;
    std::unique_ptr<ResourceDirectory> directory;  // null for a leaf
    ResourceData data;
};

struct ResourceDirectory {
    uint32_t characteristics = 0;
    uint32_t timeDateStamp = 0;
    uint16_t majorVersion = 0;
    uint16_t minorVersion = 0;
    std::vector<ResourceEntry> entries;  // named ones first, then ids, each ascending
};

// Reads the tree of the section at `section`, which must begin with it. Why it cannot
// be read, or empty.
std::string readResourceTree(const ReadAt& read, const Image& image, std::size_t section,
                             ResourceDirectory& root);

// Reads the headers of an image and the tree of its resource section, which must begin
// where the resource directory points. Why they cannot be read, or empty.
std::string readImageResources(const ReadAt& read, uint64_t fileSize, Image& image,
                               ResourceDirectory& root);

// The key of an ASCII name or "#N" id, as FindResourceA takes them.
ResourceKey resourceKey(const std::string& text);

// The entry of `key` in `directory`, or null. Names compare without regard to ASCII case.
ResourceEntry* findEntry(ResourceDirectory& directory, const ResourceKey& key);

// The entry of `key`, added in its sorted place when it is missing.
ResourceEntry& entryFor(ResourceDirectory& directory, const ResourceKey& key);

// The key of a whole number.
ResourceKey resourceId(uint16_t id);

// The first leaf below `entry` (itself, when it is one): the data a lookup without a
// language finds first. Null when there is none.
const ResourceEntry* firstLeaf(const ResourceEntry& entry);

// A section laid out for a tree: the directory tables, data entries and names in
// `head`, then each leaf's data at its offset (8-byte aligned), in `blocks` order.
struct ResourceBlock {
    uint32_t offset = 0;  // from the start of the section
    const ResourceData* data = nullptr;
};
struct ResourceLayout {
    std::string head;
    std::vector<ResourceBlock> blocks;
    uint64_t size = 0;  // the section's content, to the end of the last block
};

// Lays the tree out for a section at `sectionRva`. False when it would pass 4 GiB.
bool layoutResourceTree(const ResourceDirectory& root, uint32_t sectionRva, ResourceLayout& layout);

}  // namespace fw::pe
