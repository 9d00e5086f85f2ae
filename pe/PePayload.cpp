#include "pe/PePayload.h"

#include <algorithm>
#include <vector>

#include "pe/ResourceTree.h"
#include "platform/LittleEndian.h"
#include "res/resource.h"

namespace fw::pe {

namespace {

constexpr std::size_t kChunk = 1 << 20;

// Bytes that replace the input's at `at` (an input file offset) as it is copied.
struct Patch {
    uint64_t at = 0;
    std::string bytes;
};
using Patches = std::vector<Patch>;

// A stub read and checked for a new payload: the resource section and what follows it.
struct Plan {
    Image image;
    std::size_t rsrc = 0;
    ResourceDirectory root;
    ResourceData* payload = nullptr;
    uint64_t certificateStart = 0;  // file offsets; equal when there is none
    uint64_t certificateEnd = 0;
    const Section& resources() const { return image.sections[rsrc]; }
    uint64_t resourcesEnd() const { return uint64_t{resources().rawPointer} + resources().rawSize; }
    bool certificate() const { return certificateEnd != certificateStart; }
};

bool inSectionsAfter(const Plan& plan, uint32_t rva) {
    const int index = sectionOf(plan.image, rva);
    return index > static_cast<int>(plan.rsrc);
}

// The resource section: the one the resource directory begins, with data in the file.
std::string findResources(Plan& plan) {
    const Image& image = plan.image;
    const Directory resources = image.directory(kResourceDirectory);
    if (!resources.present()) {
        return "it has no resource section";
    }
    const int found = sectionOf(image, resources.address);
    if (found < 0 ||
        image.sections[static_cast<std::size_t>(found)].virtualAddress != resources.address) {
        return "its resources do not begin a section of their own";
    }
    plan.rsrc = static_cast<std::size_t>(found);
    if (plan.resources().rawSize == 0 || plan.resources().rawPointer < image.sizeOfHeaders) {
        return "its resource section has no data in the file";
    }
    return {};
}

// The sections lie in the file in the order of their addresses, and those after the
// resources may move.
std::string checkSections(const Plan& plan) {
    const Image& image = plan.image;
    const Section& rsrc = plan.resources();
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const Section& s = image.sections[i];
        const uint64_t start = s.rawPointer;
        const uint64_t end = start + s.rawSize;
        const bool before = i < plan.rsrc && end <= rsrc.rawPointer;
        const bool after = i > plan.rsrc && start >= plan.resourcesEnd();
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
    return {};
}

// What the data directories point at moves only where the writer moves it: relocations
// and debug data may lie after the resources, nothing may share their section.
std::string checkDirectories(const Plan& plan) {
    const Image& image = plan.image;
    for (std::size_t i = 0; i < image.directories.size(); ++i) {
        const Directory& d = image.directories[i];
        if (i == kResourceDirectory || i == kCertificateDirectory || !d.present()) {
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
    return {};
}

// The certificate table, which lies in the file after the sections and is dropped.
std::string findCertificate(Plan& plan, uint64_t size) {
    const Directory c = plan.image.directory(kCertificateDirectory);
    if (c.present()) {
        if (c.address < plan.image.sectionsEnd() || uint64_t{c.address} + c.size > size) {
            return "its certificate table lies outside the end of the file";
        }
        plan.certificateStart = c.address;
        plan.certificateEnd = uint64_t{c.address} + c.size;
    }
    return {};
}

// The payload's place in the tree, one leaf in the launcher's language: another
// language could be the one the loader picks.
std::string placePayload(Plan& plan) {
    ResourceEntry* type = findEntry(plan.root, resourceKey(FERROWICK_PAYLOAD_TYPE));
    if (type == nullptr || !type->directory) {
        return "it has no " FERROWICK_PAYLOAD_TYPE " resource";
    }
    ResourceEntry& name = entryFor(*type->directory, resourceKey(FERROWICK_PAYLOAD_NAME));
    ResourceData kept;
    if (name.directory) {
        if (const ResourceEntry* e = findEntry(*name.directory, resourceId(kPayloadLanguage));
            e && !e->directory) {
            kept = e->data;
        }
    } else {
        name.directory = std::make_unique<ResourceDirectory>();
    }
    name.directory->entries.clear();
    ResourceData& leaf = entryFor(*name.directory, resourceId(kPayloadLanguage)).data;
    leaf.source = DataSource::payload;
    leaf.codePage = kept.codePage;
    leaf.reserved = kept.reserved;
    plan.payload = &leaf;
    return {};
}

std::string applyEdits(const ReadAt& read, const ResourceEdits& edits, Plan& plan) {
    if (!edits.icon.empty()) {
        if (std::string problem = replaceIcon(read, plan.root, edits.icon); !problem.empty()) {
            return problem;
        }
    }
    return edits.version.empty() ? std::string() : changeVersion(read, plan.root, edits.version);
}

// Reads the stub and plans its new resource tree: the payload's leaf, and the edits made.
std::string prepare(const ReadAt& read, uint64_t size, const ResourceEdits& edits, Plan& plan) {
    std::string problem = readImage(read, size, plan.image);
    problem = problem.empty() ? findResources(plan) : problem;
    problem = problem.empty() ? checkSections(plan) : problem;
    problem = problem.empty() ? checkDirectories(plan) : problem;
    problem = problem.empty() ? findCertificate(plan, size) : problem;
    problem = problem.empty() ? readResourceTree(read, plan.image, plan.rsrc, plan.root) : problem;
    problem = problem.empty() ? placePayload(plan) : problem;
    return problem.empty() ? applyEdits(read, edits, plan) : problem;
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
    const Section& rsrc = plan.resources();
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
    if (at < plan.resources().rawPointer) {
        return at;
    }
    const uint64_t shifted = static_cast<uint64_t>(static_cast<int64_t>(at) + layout.fileShift);
    return at >= plan.certificateEnd && plan.certificate()
               ? shifted - (plan.certificateEnd - plan.certificateStart)
               : shifted;
}

uint32_t movedAddress(const Layout& layout, uint32_t rva) {
    return static_cast<uint32_t>(rva + layout.virtualShift);
}

void patch(Patches& out, uint64_t at, uint64_t value, int width) {
    out.push_back({at, little(value, width)});
}

// The headers: checksum (summed again as the file is written), sizes, the resource
// directory, the certificate table and the symbol table's place.
void headerPatches(const Plan& plan, const Layout& layout, Patches& out) {
    const Image& image = plan.image;
    patch(out, checkSumOffset(image), 0, 4);
    patch(out, sizeOfImageOffset(image), layout.sizeOfImage, 4);
    if ((plan.resources().characteristics & kSectionInitializedData) != 0) {
        patch(out, sizeOfInitializedDataOffset(image),
              static_cast<uint32_t>(image.sizeOfInitializedData + layout.fileShift), 4);
    }
    patch(out, directoryOffset(image, kResourceDirectory) + 4, layout.section.size, 4);
    if (plan.certificate()) {
        patch(out, directoryOffset(image, kCertificateDirectory), 0, 8);
    }
    if (image.symbolTable != 0 && image.symbolTable >= plan.resources().rawPointer) {
        patch(out, symbolTableOffset(image), movedOffset(plan, layout, image.symbolTable), 4);
    }
    for (int index : {kRelocationDirectory, kDebugDirectory}) {
        const Directory d = image.directory(index);
        if (d.present() && inSectionsAfter(plan, d.address)) {
            patch(out, directoryOffset(image, index), movedAddress(layout, d.address), 4);
        }
    }
}

// The section table: the resources' new sizes, and the sections after them moved.
void sectionPatches(const Plan& plan, const Layout& layout, Patches& out) {
    const Image& image = plan.image;
    const uint64_t rsrc = sectionHeaderOffset(image, plan.rsrc);
    patch(out, rsrc + sectionHeader::virtualSize, layout.section.size, 4);
    patch(out, rsrc + sectionHeader::rawSize, layout.rawSize, 4);
    for (std::size_t i = plan.rsrc + 1; i < image.sections.size(); ++i) {
        const Section& s = image.sections[i];
        const uint64_t header = sectionHeaderOffset(image, i);
        patch(out, header + sectionHeader::virtualAddress, movedAddress(layout, s.virtualAddress),
              4);
        if (s.rawSize != 0) {
            patch(out, header + sectionHeader::rawPointer, movedOffset(plan, layout, s.rawPointer),
                  4);
        }
    }
}

// Debug entries point at their data by address and by file offset.
std::string debugPatches(const ReadAt& read, const Plan& plan, const Layout& layout, Patches& out) {
    const Directory d = plan.image.directory(kDebugDirectory);
    uint64_t at = 0;
    if (!d.present()) {
        return {};
    }
    if (!fileOffsetOf(plan.image, d.address, d.size, at)) {
        return "its debug directory lies outside the file";
    }
    std::string entries(d.size / kDebugEntrySize * kDebugEntrySize, '\0');
    if (!read(entries.data(), entries.size(), at)) {
        return "its debug directory cannot be read";
    }
    for (std::size_t e = 0; e < entries.size(); e += kDebugEntrySize) {
        const char* entry = entries.data() + e;
        const auto address = static_cast<uint32_t>(readLittle(entry + debugEntry::address, 4));
        const auto pointer = static_cast<uint32_t>(readLittle(entry + debugEntry::pointer, 4));
        if (address != 0 && inSectionsAfter(plan, address)) {
            patch(out, at + e + debugEntry::address, movedAddress(layout, address), 4);
        }
        if (pointer >= plan.resourcesEnd()) {
            patch(out, at + e + debugEntry::pointer, movedOffset(plan, layout, pointer), 4);
        }
    }
    return {};
}

// Relocations of pages after the resources would have to move with them.
std::string checkRelocations(const ReadAt& read, const Plan& plan, const Layout& layout) {
    const Directory d = plan.image.directory(kRelocationDirectory);
    uint64_t at = 0;
    if (layout.virtualShift == 0 || !d.present()) {
        return {};
    }
    if (!fileOffsetOf(plan.image, d.address, d.size, at)) {
        return "its relocations lie outside the file";
    }
    for (uint64_t block = 0; block + kRelocationBlockSize <= d.size;) {
        unsigned char header[kRelocationBlockSize];
        if (!read(header, sizeof header, at + block)) {
            return "its relocations cannot be read";
        }
        const auto page = static_cast<uint32_t>(readLittle(header + relocationBlock::page, 4));
        const auto size = static_cast<uint32_t>(readLittle(header + relocationBlock::size, 4));
        if (page >= plan.resources().virtualAddress &&
            sectionOf(plan.image, page) >= static_cast<int>(plan.rsrc)) {
            return "its relocations apply to the resources or to a section after them";
        }
        if (size < kRelocationBlockSize) {
            break;
        }
        block += size;
    }
    return {};
}

std::string patches(const ReadAt& read, const Plan& plan, const Layout& layout, Patches& out) {
    headerPatches(plan, layout, out);
    sectionPatches(plan, layout, out);
    if (std::string problem = debugPatches(read, plan, layout, out); !problem.empty()) {
        return problem;
    }
    if (std::string problem = checkRelocations(read, plan, layout); !problem.empty()) {
        return problem;
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
bool copyPatched(const ReadAt& read, uint64_t from, uint64_t to, const Patches& patches,
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

// The resource section: its tables, then each leaf's data, padded to the file alignment.
bool writeResources(const ReadAt& stub, const NewPayload& payload, const Layout& layout,
                    std::vector<char>& buffer, Sink& sink) {
    if (!sink.put(layout.section.head.data(), layout.section.head.size())) {
        return false;
    }
    uint64_t at = layout.section.head.size();
    for (const ResourceBlock& block : layout.section.blocks) {
        const ResourceData& data = *block.data;
        bool copied = sink.zeros(block.offset - at);
        switch (data.source) {
            case DataSource::image:
                copied = copied && copyStream(stub, data.fileOffset, data.size, buffer, sink);
                break;
            case DataSource::held:
                copied = copied && sink.put(data.held.data(), data.held.size());
                break;
            case DataSource::payload:
                copied = copied && sink.put(payload.prefix.data(), payload.prefix.size()) &&
                         copyStream(payload.read, 0, payload.size, buffer, sink);
                break;
        }
        if (!copied) {
            return false;
        }
        at = block.offset + uint64_t{data.size};
    }
    return sink.zeros(layout.rawSize - at);
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
    ResourceDirectory root;
    if (std::string problem = readImageResources(read, fileSize, image, root); !problem.empty()) {
        return problem;
    }
    ResourceEntry* type = findEntry(root, resourceKey(FERROWICK_PAYLOAD_TYPE));
    ResourceEntry* name = type && type->directory
                              ? findEntry(*type->directory, resourceKey(FERROWICK_PAYLOAD_NAME))
                              : nullptr;
    if (name == nullptr || !name->directory || name->directory->entries.empty()) {
        return "it carries no payload";
    }
    const ResourceEntry* leaf = findEntry(*name->directory, resourceId(kPayloadLanguage));
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
    if (std::string problem = prepare(stub, stubSize, {}, plan); !problem.empty()) {
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
    if (std::string problem = prepare(stub, stubSize, {}, plan); !problem.empty()) {
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
    if (std::string problem = prepare(stub, stubSize, {}, plan); !problem.empty()) {
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
                             const ResourceEdits& edits, const Output& out, Written& written) {
    Plan plan;
    if (std::string problem = prepare(stub, stubSize, edits, plan); !problem.empty()) {
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
    Patches changes;
    if (std::string problem = patches(stub, plan, layout, changes); !problem.empty()) {
        return problem;
    }
    std::vector<char> buffer(kChunk);
    Sink sink(out);
    const Section& rsrc = plan.resources();
    const uint64_t sectionsEnd = std::max(plan.image.sectionsEnd(), plan.resourcesEnd());
    const uint64_t keptUpTo = plan.certificate() ? plan.certificateStart : stubSize;
    // The headers and the sections before the resources, the new resource section, the
    // sections after it and what follows them, less a certificate table.
    const bool copied =
        copyPatched(stub, 0, rsrc.rawPointer, changes, buffer, sink) &&
        writeResources(stub, payload, layout, buffer, sink) &&
        copyPatched(stub, plan.resourcesEnd(), sectionsEnd, changes, buffer, sink) &&
        copyPatched(stub, sectionsEnd, keptUpTo, changes, buffer, sink) &&
        (!plan.certificate() ||
         copyPatched(stub, plan.certificateEnd, stubSize, changes, buffer, sink));
    const std::string sum = little(sink.checksum(), 4);
    if (!copied || !out.writeAt(sum.data(), sum.size(), checkSumOffset(plan.image))) {
        return "cannot write";
    }
    written.fileSize = sink.written();
    written.sizeOfImage = layout.sizeOfImage;
    written.certificateDropped = plan.certificate();
    return {};
}

}  // namespace fw::pe
