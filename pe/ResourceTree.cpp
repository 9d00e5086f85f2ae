#include "pe/ResourceTree.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <set>

#include "platform/LittleEndian.h"

namespace fw::pe {

namespace {

constexpr std::size_t kDirectorySize = kResourceTableSize;
constexpr std::size_t kEntrySize = kResourceEntrySize;
constexpr std::size_t kDataEntrySize = kResourceDataSize;
constexpr uint32_t kHighBit = kResourceHighBit;
// Types, names, languages: the loader looks no deeper.
constexpr int kLevels = 3;
constexpr uint32_t kDataAlignment = 8;

char16_t upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// Names in the order the loader searches them: by their upper-cased units.
int compareNames(const std::u16string& a, const std::u16string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (upper(a[i]) != upper(b[i])) {
            return upper(a[i]) < upper(b[i]) ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool sameKey(const ResourceKey& a, const ResourceKey& b) {
    return a.named() == b.named() && (a.named() ? compareNames(a.text, b.text) == 0 : a.id == b.id);
}

// True when `a` sorts before `b`: names first, then ids.
bool before(const ResourceKey& a, const ResourceKey& b) {
    if (a.named() != b.named()) {
        return a.named();
    }
    return a.named() ? compareNames(a.text, b.text) < 0 : a.id < b.id;
}

class TreeReader {
  public:
    TreeReader(const ReadAt& read, const Image& image, const Section& section)
        : read_(read), image_(image), section_(section) {}

    std::string directory(uint32_t at, int level, ResourceDirectory& out) {
        if (!visited_.insert(at).second) {
            return "its resource tree refers to one directory twice";
        }
        unsigned char head[kDirectorySize];
        if (!readIn(head, sizeof head, at)) {
            return "its resource tree lies outside its section";
        }
        const ResourceTableHeader table = decodeResourceTable(head);
        out.characteristics = table.characteristics;
        out.timeDateStamp = table.timeDateStamp;
        out.majorVersion = table.majorVersion;
        out.minorVersion = table.minorVersion;
        const std::size_t count = std::size_t{table.namedEntries} + table.idEntries;
        std::string entries(count * kEntrySize, '\0');
        if (!readIn(entries.data(), entries.size(), at + kDirectorySize)) {
            return "its resource tree lies outside its section";
        }
        for (std::size_t i = 0; i < count; ++i) {
            const auto* e = reinterpret_cast<const unsigned char*>(entries.data()) + i * kEntrySize;
            const auto name = static_cast<uint32_t>(readLittle(e + resourceEntry::key, 4));
            const auto target = static_cast<uint32_t>(readLittle(e + resourceEntry::target, 4));
            ResourceEntry entry;
            if (std::string problem = key(name, entry.key); !problem.empty()) {
                return problem;
            }
            if ((target & kHighBit) != 0) {
                if (level + 1 >= kLevels) {
                    return "its resource tree is deeper than types, names and languages";
                }
                entry.directory = std::make_unique<ResourceDirectory>();
                if (std::string problem =
                        directory(target & ~kHighBit, level + 1, *entry.directory);
                    !problem.empty()) {
                    return problem;
                }
            } else if (std::string problem = data(target, entry.data); !problem.empty()) {
                return problem;
            }
            out.entries.push_back(std::move(entry));
        }
        return {};
    }

  private:
    bool readIn(void* buffer, std::size_t size, uint64_t at) const {
        const uint64_t readable = std::min(section_.rawSize, section_.span());
        return at <= readable && size <= readable - at &&
               read_(buffer, size, section_.rawPointer + at);
    }

    std::string key(uint32_t field, ResourceKey& out) const {
        if ((field & kHighBit) == 0) {
            if (field > 0xFFFF) {
                return "its resource tree holds an id over 65535";
            }
            out.id = static_cast<uint16_t>(field);
            return {};
        }
        const uint32_t at = field & ~kHighBit;
        unsigned char length[2];
        if (!readIn(length, 2, at)) {
            return "a resource name lies outside its section";
        }
        const std::size_t units = readLittle(length, 2);
        std::string bytes(2 * units, '\0');
        if (units == 0 || !readIn(bytes.data(), bytes.size(), at + 2)) {
            return "a resource name is empty or lies outside its section";
        }
        for (std::size_t i = 0; i < units; ++i) {
            out.text += static_cast<char16_t>(readLittle(bytes.data() + 2 * i, 2));
        }
        return {};
    }

    std::string data(uint32_t at, ResourceData& out) const {
        unsigned char entry[kDataEntrySize];
        if (!readIn(entry, sizeof entry, at)) {
            return "a resource's data entry lies outside its section";
        }
        const ResourceDataEntry fields = decodeResourceData(entry);
        out.size = fields.size;
        out.codePage = fields.codePage;
        out.reserved = fields.reserved;
        if (!fileOffsetOf(image_, fields.address, out.size, out.fileOffset)) {
            return "a resource's data lies outside the file";
        }
        return {};
    }

    const ReadAt& read_;
    const Image& image_;
    const Section& section_;
    std::set<uint32_t> visited_;
};

}  // namespace

std::string readResourceTree(const ReadAt& read, const Image& image, std::size_t section,
                             ResourceDirectory& root) {
    root = ResourceDirectory{};
    TreeReader reader(read, image, image.sections.at(section));
    return reader.directory(0, 0, root);
}

std::string readImageResources(const ReadAt& read, uint64_t fileSize, Image& image,
                               ResourceDirectory& root) {
    if (std::string problem = readImage(read, fileSize, image); !problem.empty()) {
        return problem;
    }
    const Directory resources = image.directory(kResourceDirectory);
    const int section = resources.size != 0 ? sectionOf(image, resources.address) : -1;
    if (section < 0 ||
        image.sections[static_cast<std::size_t>(section)].virtualAddress != resources.address) {
        return "it has no resource section";
    }
    return readResourceTree(read, image, static_cast<std::size_t>(section), root);
}

ResourceKey resourceKey(const std::string& text) {
    ResourceKey key;
    if (text.size() > 1 && text[0] == '#') {
        key.id = static_cast<uint16_t>(std::stoul(text.substr(1)));
    } else {
        key.text.assign(text.begin(), text.end());
    }
    return key;
}

ResourceKey resourceId(uint16_t id) {
    ResourceKey key;
    key.id = id;
    return key;
}

const ResourceEntry* firstLeaf(const ResourceEntry& entry) {
    const ResourceEntry* at = &entry;
    while (at->directory) {
        if (at->directory->entries.empty()) {
            return nullptr;
        }
        at = &at->directory->entries.front();
    }
    return at;
}

ResourceEntry* findEntry(ResourceDirectory& directory, const ResourceKey& key) {
    for (ResourceEntry& entry : directory.entries) {
        if (sameKey(entry.key, key)) {
            return &entry;
        }
    }
    return nullptr;
}

ResourceEntry& entryFor(ResourceDirectory& directory, const ResourceKey& key) {
    if (ResourceEntry* found = findEntry(directory, key)) {
        return *found;
    }
    auto at = std::find_if(directory.entries.begin(), directory.entries.end(),
                           [&](const ResourceEntry& e) { return before(key, e.key); });
    ResourceEntry entry;
    entry.key = key;
    return *directory.entries.insert(at, std::move(entry));
}

bool layoutResourceTree(const ResourceDirectory& root, uint32_t sectionRva,
                        ResourceLayout& layout) {
    layout = ResourceLayout{};
    // Directory tables breadth first, then the data entries, the names and the data.
    std::vector<const ResourceDirectory*> tables;
    std::vector<const ResourceEntry*> leaves;
    std::vector<const ResourceEntry*> named;
    std::map<const ResourceDirectory*, uint64_t> tableAt;
    std::deque<const ResourceDirectory*> queue{&root};
    uint64_t at = 0;
    while (!queue.empty()) {
        const ResourceDirectory* d = queue.front();
        queue.pop_front();
        tables.push_back(d);
        tableAt[d] = at;
        at += kDirectorySize + kEntrySize * d->entries.size();
        for (const ResourceEntry& e : d->entries) {
            if (e.directory) {
                queue.push_back(e.directory.get());
            } else {
                leaves.push_back(&e);
            }
            if (e.key.named()) {
                named.push_back(&e);
            }
        }
    }
    std::map<const ResourceEntry*, uint64_t> leafAt;
    for (const ResourceEntry* e : leaves) {
        leafAt[e] = at;
        at += kDataEntrySize;
    }
    std::map<const ResourceEntry*, uint64_t> nameAt;
    for (const ResourceEntry* e : named) {
        nameAt[e] = at;
        at += 2 + 2 * e->key.text.size();
    }
    at = alignUp(at, kDataAlignment);
    const uint64_t headSize = at;
    std::map<const ResourceEntry*, uint64_t> blockAt;
    for (const ResourceEntry* e : leaves) {
        at = alignUp(at, kDataAlignment);
        blockAt[e] = at;
        at += e->data.size;
    }
    if (uint64_t{sectionRva} + at > 0xFFFFFFFFull) {
        return false;
    }
    layout.size = at;

    std::string& head = layout.head;
    head.reserve(static_cast<std::size_t>(headSize));
    for (const ResourceDirectory* d : tables) {
        std::vector<const ResourceEntry*> ordered;
        for (const ResourceEntry& e : d->entries) {
            ordered.push_back(&e);
        }
        std::stable_partition(ordered.begin(), ordered.end(),
                              [](const ResourceEntry* e) { return e->key.named(); });
        const auto names = std::count_if(ordered.begin(), ordered.end(),
                                         [](const ResourceEntry* e) { return e->key.named(); });
        appendLittle(head, d->characteristics, 4);
        appendLittle(head, d->timeDateStamp, 4);
        appendLittle(head, d->majorVersion, 2);
        appendLittle(head, d->minorVersion, 2);
        appendLittle(head, static_cast<uint64_t>(names), 2);
        appendLittle(head, ordered.size() - static_cast<std::size_t>(names), 2);
        for (const ResourceEntry* e : ordered) {
            appendLittle(head, e->key.named() ? kHighBit | nameAt[e] : e->key.id, 4);
            appendLittle(head, e->directory ? kHighBit | tableAt[e->directory.get()] : leafAt[e],
                         4);
        }
    }
    for (const ResourceEntry* e : leaves) {
        appendLittle(head, sectionRva + blockAt[e], 4);
        appendLittle(head, e->data.size, 4);
        appendLittle(head, e->data.codePage, 4);
        appendLittle(head, e->data.reserved, 4);
        layout.blocks.push_back({static_cast<uint32_t>(blockAt[e]), &e->data});
    }
    for (const ResourceEntry* e : named) {
        appendLittle(head, e->key.text.size(), 2);
        for (char16_t c : e->key.text) {
            appendLittle(head, c, 2);
        }
    }
    head.resize(static_cast<std::size_t>(headSize), '\0');
    return true;
}

}  // namespace fw::pe
