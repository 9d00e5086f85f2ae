#include "pe/PePayload.h"

#include <algorithm>
#include <vector>

#include "pe/ResourceTree.h"

namespace fw::pe {

namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr std::size_t kDebugEntrySize = 28;
constexpr std::size_t kCertificateAlignment = 8;

// Bytes that replace the input's at `at` (an input file offset) as it is copied.
struct Patch {
    uint64_t at = 0;
    std::string bytes;
};

std::string le(uint64_t value, int width) {
    std::string out;
    putLe(out, value, width);
    return out;
}

// A stub read and checked for a new payload: the resource section and what follows it.
struct Plan {
    Image image;
    std::size_t rsrc = 0;
    ResourceDirectory root;
    ResourceData* payload = nullptr;
    uint64_t certificateStart = 0;  // file offsets; equal when there is none
    uint64_t certificateEnd = 0;
};

bool inSectionsAfter(const Plan& plan, uint32_t rva) {
    const int index = sectionOf(plan.image, rva);
    return index > static_cast<int>(plan.rsrc);
}

std::string prepare(const ReadAt& read, uint64_t size, Plan& plan) {
    Image& image = plan.image;
    if (std::string problem = readImage(read, size, image); !problem.empty()) {
        return problem;
    }
    const Directory resources = image.directories.size() > kResourceDirectory
                                    ? image.directories[kResourceDirectory]
                                    : Directory{};
    if (resources.address == 0 || resources.size == 0) {
        return "it has no resource section";
    }
    const int found = sectionOf(image, resources.address);
    if (found < 0 ||
        image.sections[static_cast<std::size_t>(found)].virtualAddress != resources.address) {
        return "its resources do not begin a section of their own";
    }
    plan.rsrc = static_cast<std::size_t>(found);
    const Section& rsrc = image.sections[plan.rsrc];
    if (rsrc.rawSize == 0 || rsrc.rawPointer < image.sizeOfHeaders) {
        return "its resource section has no data in the file";
    }
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const Section& s = image.sections[i];
        const uint64_t start = s.rawPointer;
        const uint64_t end = start + s.rawSize;
        const bool before = i < plan.rsrc && end <= rsrc.rawPointer;
        const bool after = i > plan.rsrc && start >= uint64_t{rsrc.rawPointer} + rsrc.rawSize;
        if (s.rawSize != 0 && i != plan.rsrc && !before && !after) {
            return "its sections do not lie in the file in the order of their addresses";
        }
        // Code may refer to any section that stays mapped, and moving it would break that.
        if (i > plan.rsrc && (s.characteristics & kSectionDiscardable) == 0) {
            return "its section \"" + s.name +
                   "\" follows the resources and cannot be moved (only discardable sections "
                   "can)";
        }
    }
    for (std::size_t i = 0; i < image.directories.size(); ++i) {
        const Directory& d = image.directories[i];
        if (i == kResourceDirectory || i == kCertificateDirectory || d.address == 0 ||
            d.size == 0) {
            continue;
        }
        const int holder = sectionOf(image, d.address);
        if (holder == static_cast<int>(plan.rsrc)) {
            return "its resource section holds more than its resources";
        }
        if (holder > static_cast<int>(plan.rsrc) && i != kRelocationDirectory &&
            i != kDebugDirectory) {
            return "its data directory " + std::to_string(i) +
                   " lies in a section after the resources";
        }
    }
    if (image.directories.size() > kCertificateDirectory) {
        const Directory& c = image.directories[kCertificateDirectory];
        if (c.address != 0 && c.size != 0) {
            if (c.address < image.sectionsEnd() || uint64_t{c.address} + c.size > size) {
                return "its certificate table lies outside the end of the file";
            }
            plan.certificateStart = c.address;
            plan.certificateEnd = uint64_t{c.address} + c.size;
        }
    }
    if (std::string problem = readResourceTree(read, image, plan.rsrc, plan.root);
        !problem.empty()) {
        return problem;
    }
    ResourceEntry* type = findEntry(plan.root, resourceKey(kPayloadType));
    if (type == nullptr || !type->directory) {
        return std::string("it has no ") + kPayloadType + " resource";
    }
    ResourceEntry& name = entryFor(*type->directory, resourceKey(kPayloadName));
    // One payload, in the language the launcher is looked up in: another language could
    // be the one the loader picks.
    ResourceData kept;
    if (name.directory) {
        ResourceKey english;
        english.id = kPayloadLanguage;
        if (const ResourceEntry* e = findEntry(*name.directory, english); e && !e->directory) {
            kept = e->data;
        }
    } else {
        name.directory = std::make_unique<ResourceDirectory>();
    }
    name.directory->entries.clear();
    ResourceEntry leaf;
    leaf.key.id = kPayloadLanguage;
    leaf.data.codePage = kept.codePage;
    leaf.data.reserved = kept.reserved;
    leaf.data.replaced = true;
    name.directory->entries.push_back(std::move(leaf));
    plan.payload = &name.directory->entries.back().data;
    return {};
}

// The new resource section and the image around it, for a payload resource of `size`.
struct Layout {
    ResourceLayout section;
    uint64_t rawSize = 0;
    int64_t virtualShift = 0;  // of the sections after the resources
    int64_t fileShift = 0;     // of everything in the file after the resource section
    uint64_t sizeOfImage = 0;
};

bool layOut(Plan& plan, uint64_t resourceSize, Layout& layout) {
    if (resourceSize > 0xFFFFFFFFull) {
        return false;
    }
    plan.payload->size = static_cast<uint32_t>(resourceSize);
    const Image& image = plan.image;
    const Section& rsrc = image.sections[plan.rsrc];
    if (!layoutResourceTree(plan.root, rsrc.virtualAddress, layout.section)) {
        return false;
    }
    layout.rawSize = alignUp(layout.section.size, image.fileAlignment);
    const uint64_t oldEnd =
        alignUp(uint64_t{rsrc.virtualAddress} + rsrc.span(), image.sectionAlignment);
    const uint64_t newEnd =
        alignUp(uint64_t{rsrc.virtualAddress} + layout.section.size, image.sectionAlignment);
    layout.virtualShift = static_cast<int64_t>(newEnd) - static_cast<int64_t>(oldEnd);
    layout.fileShift = static_cast<int64_t>(layout.rawSize) - static_cast<int64_t>(rsrc.rawSize);
    layout.sizeOfImage = static_cast<uint64_t>(image.sizeOfImage + layout.virtualShift);
    return layout.sizeOfImage <= 0xFFFFFFFFull && layout.rawSize <= 0xFFFFFFFFull;
}

// Where a byte of the stub lands in the output (it must lie outside the old resources).
uint64_t movedOffset(const Plan& plan, const Layout& layout, uint64_t at) {
    const Section& rsrc = plan.image.sections[plan.rsrc];
    if (at < rsrc.rawPointer) {
        return at;
    }
    const uint64_t shifted = static_cast<uint64_t>(static_cast<int64_t>(at) + layout.fileShift);
    return at >= plan.certificateEnd && plan.certificateEnd != plan.certificateStart
               ? shifted - (plan.certificateEnd - plan.certificateStart)
               : shifted;
}

std::string patches(const ReadAt& read, const Plan& plan, const Layout& layout,
                    std::vector<Patch>& out) {
    const Image& image = plan.image;
    const Section& rsrc = image.sections[plan.rsrc];
    out.push_back({checkSumOffset(image), le(0, 4)});
    out.push_back({sizeOfImageOffset(image), le(layout.sizeOfImage, 4)});
    if ((rsrc.characteristics & kSectionInitializedData) != 0) {
        out.push_back(
            {sizeOfInitializedDataOffset(image),
             le(static_cast<uint32_t>(image.sizeOfInitializedData + layout.fileShift), 4)});
    }
    out.push_back({directoryOffset(image, kResourceDirectory) + 4, le(layout.section.size, 4)});
    if (plan.certificateEnd != plan.certificateStart) {
        out.push_back({directoryOffset(image, kCertificateDirectory), le(0, 8)});
    }
    if (image.symbolTable != 0 && image.symbolTable >= rsrc.rawPointer) {
        out.push_back(
            {symbolTableOffset(image), le(movedOffset(plan, layout, image.symbolTable), 4)});
    }
    out.push_back({sectionHeaderOffset(image, plan.rsrc) + 8, le(layout.section.size, 4)});
    out.push_back({sectionHeaderOffset(image, plan.rsrc) + 16, le(layout.rawSize, 4)});
    for (std::size_t i = plan.rsrc + 1; i < image.sections.size(); ++i) {
        const Section& s = image.sections[i];
        out.push_back({sectionHeaderOffset(image, i) + 12,
                       le(static_cast<uint64_t>(s.virtualAddress + layout.virtualShift), 4)});
        if (s.rawSize != 0) {
            out.push_back({sectionHeaderOffset(image, i) + 20,
                           le(movedOffset(plan, layout, s.rawPointer), 4)});
        }
    }
    for (int index : {kRelocationDirectory, kDebugDirectory}) {
        if (static_cast<std::size_t>(index) < image.directories.size() &&
            inSectionsAfter(plan, image.directories[static_cast<std::size_t>(index)].address)) {
            out.push_back({directoryOffset(image, index),
                           le(static_cast<uint64_t>(
                                  image.directories[static_cast<std::size_t>(index)].address +
                                  layout.virtualShift),
                              4)});
        }
    }
    // Debug entries point at their data by address and by file offset.
    if (image.directories.size() > kDebugDirectory) {
        const Directory& d = image.directories[kDebugDirectory];
        uint64_t at = 0;
        if (d.address != 0 && d.size != 0) {
            if (!fileOffsetOf(image, d.address, d.size, at)) {
                return "its debug directory lies outside the file";
            }
            std::string entries(d.size / kDebugEntrySize * kDebugEntrySize, '\0');
            if (!read(entries.data(), entries.size(), at)) {
                return "its debug directory cannot be read";
            }
            for (std::size_t e = 0; e < entries.size(); e += kDebugEntrySize) {
                const auto address = static_cast<uint32_t>(getLe(entries.data() + e + 20, 4));
                const auto pointer = static_cast<uint32_t>(getLe(entries.data() + e + 24, 4));
                if (address != 0 && inSectionsAfter(plan, address)) {
                    out.push_back(
                        {at + e + 20, le(static_cast<uint64_t>(address + layout.virtualShift), 4)});
                }
                if (pointer >= uint64_t{rsrc.rawPointer} + rsrc.rawSize) {
                    out.push_back({at + e + 24, le(movedOffset(plan, layout, pointer), 4)});
                }
            }
        }
    }
    // Relocations of pages after the resources would have to move with them.
    if (layout.virtualShift != 0 && image.directories.size() > kRelocationDirectory) {
        const Directory& d = image.directories[kRelocationDirectory];
        uint64_t at = 0;
        if (d.address != 0 && d.size != 0) {
            if (!fileOffsetOf(image, d.address, d.size, at)) {
                return "its relocations lie outside the file";
            }
            for (uint64_t block = 0; block + 8 <= d.size;) {
                unsigned char header[8];
                if (!read(header, 8, at + block)) {
                    return "its relocations cannot be read";
                }
                const auto page = static_cast<uint32_t>(getLe(header, 4));
                const auto blockSize = static_cast<uint32_t>(getLe(header + 4, 4));
                if (page >= rsrc.virtualAddress &&
                    sectionOf(image, page) >= static_cast<int>(plan.rsrc)) {
                    return "its relocations apply to the resources or to a section after them";
                }
                if (blockSize < 8) {
                    break;
                }
                block += blockSize;
            }
        }
    }
    std::sort(out.begin(), out.end(), [](const Patch& a, const Patch& b) { return a.at < b.at; });
    return {};
}

// Writes through the output and sums the checksum on the way.
class Sink {
  public:
    explicit Sink(const Output& out) : out_(out) {}
    bool put(const void* data, std::size_t size) {
        sum_.add(data, size);
        written_ += size;
        return size == 0 || out_.append(data, size);
    }
    bool zeros(uint64_t count) {
        const std::string none(static_cast<std::size_t>(std::min<uint64_t>(count, kChunk)), '\0');
        while (count > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, none.size()));
            if (!put(none.data(), n)) {
                return false;
            }
            count -= n;
        }
        return true;
    }
    uint64_t written() const { return written_; }
    uint32_t checksum() const { return sum_.value(written_); }

  private:
    const Output& out_;
    Checksum sum_;
    uint64_t written_ = 0;
};

// Copies the stub's bytes [from, to) with the patches that fall in them.
bool copyPatched(const ReadAt& read, uint64_t from, uint64_t to, const std::vector<Patch>& patches,
                 std::vector<char>& buffer, Sink& sink) {
    for (uint64_t at = from; at < to;) {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(to - at, buffer.size()));
        if (!read(buffer.data(), n, at)) {
            return false;
        }
        for (const Patch& p : patches) {
            for (std::size_t i = 0; i < p.bytes.size(); ++i) {
                if (p.at + i >= at && p.at + i < at + n) {
                    buffer[static_cast<std::size_t>(p.at + i - at)] = p.bytes[i];
                }
            }
        }
        if (!sink.put(buffer.data(), n)) {
            return false;
        }
        at += n;
    }
    return true;
}

bool copyStream(const ReadAt& read, uint64_t from, uint64_t size, std::vector<char>& buffer,
                Sink& sink) {
    for (uint64_t done = 0; done < size;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<uint64_t>(size - done, buffer.size()));
        if (!read(buffer.data(), n, from + done) || !sink.put(buffer.data(), n)) {
            return false;
        }
        done += n;
    }
    return true;
}

// The largest archive after a prefix of `prefixSize` whose image stays within `limit`;
// false when not even an empty one does.
bool largestIn(Plan& plan, uint64_t prefixSize, uint64_t limit, uint64_t& largest) {
    auto fits = [&](uint64_t payload) {
        Layout layout;
        return layOut(plan, prefixSize + payload, layout) && layout.sizeOfImage <= limit;
    };
    if (!fits(0)) {
        return false;
    }
    uint64_t low = 0;
    uint64_t high = 0xFFFFFFFFull;  // a resource's size is 32-bit
    while (low < high) {
        const uint64_t middle = low + (high - low + 1) / 2;
        if (fits(middle)) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    largest = low;
    return true;
}

}  // namespace

std::string findPayload(const ReadAt& read, uint64_t fileSize, PayloadPlace& place) {
    Image image;
    if (std::string problem = readImage(read, fileSize, image); !problem.empty()) {
        return problem;
    }
    const Directory resources = image.directories.size() > kResourceDirectory
                                    ? image.directories[kResourceDirectory]
                                    : Directory{};
    const int section = resources.size != 0 ? sectionOf(image, resources.address) : -1;
    if (section < 0 ||
        image.sections[static_cast<std::size_t>(section)].virtualAddress != resources.address) {
        return "it has no resource section";
    }
    ResourceDirectory root;
    if (std::string problem =
            readResourceTree(read, image, static_cast<std::size_t>(section), root);
        !problem.empty()) {
        return problem;
    }
    ResourceEntry* type = findEntry(root, resourceKey(kPayloadType));
    ResourceEntry* name =
        type && type->directory ? findEntry(*type->directory, resourceKey(kPayloadName)) : nullptr;
    if (name == nullptr || !name->directory || name->directory->entries.empty()) {
        return "it carries no payload";
    }
    ResourceKey english;
    english.id = kPayloadLanguage;
    const ResourceEntry* leaf = findEntry(*name->directory, english);
    leaf = leaf ? leaf : &name->directory->entries.front();
    if (leaf->directory) {
        return "its payload resource is a directory, not data";
    }
    place.fileOffset = leaf->data.fileOffset;
    place.size = leaf->data.size;
    place.language = leaf->key.id;
    return {};
}

std::string largestPayload(const ReadAt& stub, uint64_t stubSize, uint64_t prefixSize,
                           uint64_t& largest, uint64_t& imageLimit) {
    Plan plan;
    if (std::string problem = prepare(stub, stubSize, plan); !problem.empty()) {
        return problem;
    }
    imageLimit = largestImageSize(plan.image);
    if (!largestIn(plan, prefixSize, imageLimit, largest)) {
        return "even an empty payload would make its image larger than Windows loads";
    }
    return {};
}

std::string resourcePlace(const ReadAt& stub, uint64_t stubSize, ResourcePlace& place) {
    Plan plan;
    if (std::string problem = prepare(stub, stubSize, plan); !problem.empty()) {
        return problem;
    }
    const Image& image = plan.image;
    const Section& rsrc = image.sections[plan.rsrc];
    const uint64_t end =
        alignUp(uint64_t{rsrc.virtualAddress} + rsrc.span(), image.sectionAlignment);
    place.sizeOfImage = image.sizeOfImage;
    place.address = rsrc.virtualAddress;
    place.imageAfter = image.sizeOfImage > end ? image.sizeOfImage - end : 0;
    return {};
}

std::string imageSizeFor(const ReadAt& stub, uint64_t stubSize, uint64_t resourceSize,
                         uint64_t& sizeOfImage) {
    Plan plan;
    if (std::string problem = prepare(stub, stubSize, plan); !problem.empty()) {
        return problem;
    }
    Layout layout;
    if (!layOut(plan, resourceSize, layout)) {
        return "its resource section would pass 4 GiB";
    }
    sizeOfImage = layout.sizeOfImage;
    return {};
}

std::string writeWithPayload(const ReadAt& stub, uint64_t stubSize, const NewPayload& payload,
                             const Output& out, Written& written) {
    Plan plan;
    if (std::string problem = prepare(stub, stubSize, plan); !problem.empty()) {
        return problem;
    }
    Layout layout;
    const uint64_t limit = largestImageSize(plan.image);
    if (!layOut(plan, payload.prefix.size() + payload.size, layout) || layout.sizeOfImage > limit) {
        uint64_t largest = 0;
        return "the payload of " + std::to_string(payload.size) +
               " bytes would make the launcher's image larger than the " + std::to_string(limit) +
               " bytes Windows loads (SizeOfImage); with this stub the payload may have at most " +
               (largestIn(plan, payload.prefix.size(), limit, largest) ? std::to_string(largest)
                                                                       : std::string("0")) +
               " bytes";
    }
    std::vector<Patch> changes;
    if (std::string problem = patches(stub, plan, layout, changes); !problem.empty()) {
        return problem;
    }
    const Image& image = plan.image;
    const Section& rsrc = image.sections[plan.rsrc];
    std::vector<char> buffer(kChunk);
    Sink sink(out);
    auto failed = [] { return std::string("cannot write"); };
    if (!copyPatched(stub, 0, rsrc.rawPointer, changes, buffer, sink) ||
        !sink.put(layout.section.head.data(), layout.section.head.size())) {
        return failed();
    }
    uint64_t at = layout.section.head.size();
    for (const ResourceBlock& block : layout.section.blocks) {
        if (!sink.zeros(block.offset - at)) {
            return failed();
        }
        const bool copied =
            block.data->replaced
                ? sink.put(payload.prefix.data(), payload.prefix.size()) &&
                      copyStream(payload.read, 0, payload.size, buffer, sink)
                : copyStream(stub, block.data->fileOffset, block.data->size, buffer, sink);
        if (!copied) {
            return failed();
        }
        at = block.offset + uint64_t{block.data->size};
    }
    const uint64_t sectionsEnd = image.sectionsEnd();
    const uint64_t rsrcEnd = uint64_t{rsrc.rawPointer} + rsrc.rawSize;
    const bool certificate = plan.certificateEnd != plan.certificateStart;
    const uint64_t keptUpTo = certificate ? plan.certificateStart : stubSize;
    if (!sink.zeros(layout.rawSize - at) ||
        !copyPatched(stub, rsrcEnd, std::max(sectionsEnd, rsrcEnd), changes, buffer, sink) ||
        !copyPatched(stub, std::max(sectionsEnd, rsrcEnd), keptUpTo, changes, buffer, sink) ||
        (certificate && !copyPatched(stub, plan.certificateEnd, stubSize, changes, buffer, sink))) {
        return failed();
    }
    const std::string sum = le(sink.checksum(), 4);
    if (!out.writeAt(sum.data(), sum.size(), checkSumOffset(image))) {
        return failed();
    }
    written.fileSize = sink.written();
    written.sizeOfImage = layout.sizeOfImage;
    written.certificateDropped = certificate;
    return {};
}

std::string finishImage(ImageFile& file, bool& certificateDropped) {
    certificateDropped = false;
    Image image;
    if (std::string problem = readImage(file.read, file.size, image); !problem.empty()) {
        return problem;
    }
    const std::string zero(8, '\0');
    if (image.directories.size() > kCertificateDirectory) {
        const Directory c = image.directories[kCertificateDirectory];
        if (c.address != 0 && c.size != 0) {
            if (!file.writeAt(zero.data(), 8, directoryOffset(image, kCertificateDirectory))) {
                return "cannot write";
            }
            // The table ends the file, padded to 8 bytes; elsewhere only unreferenced.
            if (alignUp(uint64_t{c.address} + c.size, kCertificateAlignment) >= file.size &&
                c.address >= image.sectionsEnd()) {
                if (!file.truncate(c.address)) {
                    return "cannot write";
                }
                file.size = c.address;
            }
            certificateDropped = true;
        }
    }
    if (!file.writeAt(zero.data(), 4, checkSumOffset(image))) {
        return "cannot write";
    }
    Checksum sum;
    std::vector<char> buffer(kChunk);
    for (uint64_t at = 0; at < file.size;) {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(file.size - at, kChunk));
        if (!file.read(buffer.data(), n, at)) {
            return "cannot read it back";
        }
        sum.add(buffer.data(), n);
        at += n;
    }
    const std::string value = le(sum.value(file.size), 4);
    return file.writeAt(value.data(), 4, checkSumOffset(image)) ? std::string() : "cannot write";
}

}  // namespace fw::pe
