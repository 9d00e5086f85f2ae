#include "tests/support/RawZip.h"

#include <zlib.h>

namespace fw::test {

void append16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void append32(std::string& out, uint32_t v) {
    append16(out, v & 0xFFFF);
    append16(out, v >> 16);
}

void append64(std::string& out, uint64_t v) {
    append32(out, static_cast<uint32_t>(v));
    append32(out, static_cast<uint32_t>(v >> 32));
}

uint32_t crcOf(const std::string& s) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

namespace {

// The key schedule written out from the published description, independently of the
// reader's.
struct Keys {
    uint32_t k[3] = {305419896u, 591751049u, 878082192u};
    static uint32_t crcByte(uint32_t c, uint8_t b) {
        uint32_t x = (c ^ b) & 0xFF;
        for (int i = 0; i < 8; ++i) {
            x = (x & 1) ? (x >> 1) ^ 0xEDB88320u : x >> 1;
        }
        return x ^ (c >> 8);
    }
    uint8_t stream() const {
        const uint32_t t = (k[2] & 0xFFFF) | 2;
        return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
    }
    void update(uint8_t p) {
        k[0] = crcByte(k[0], p);
        k[1] = (k[1] + (k[0] & 0xFF)) * 134775813u + 1;
        k[2] = crcByte(k[2], static_cast<uint8_t>(k[1] >> 24));
    }
};

}  // namespace

std::string encryptTraditional(const std::string& plain) {
    Keys keys;
    std::string out;
    out.reserve(plain.size());
    for (char c : plain) {
        const auto p = static_cast<uint8_t>(c);
        out += static_cast<char>(p ^ keys.stream());
        keys.update(p);
    }
    return out;
}

std::string deflateRaw(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string buildArchive(const std::vector<RawEntry>& entries, const std::string& leading) {
    std::string archive = leading;
    std::string central;
    for (const RawEntry& e : entries) {
        const uint32_t crc = e.crc.value_or(crcOf(e.content));
        const uint32_t size = e.uncompressedSize.value_or(static_cast<uint32_t>(e.content.size()));
        std::string data = e.stored ? *e.stored : e.method == 8 ? deflateRaw(e.content) : e.content;
        uint16_t flags = e.flags;
        if (e.encrypt) {
            flags |= 1;
            const uint8_t check = e.checkByte.value_or(
                static_cast<uint8_t>((flags & 8) ? (e.dosDateTime >> 8) & 0xFF : crc >> 24));
            std::string header = "0123456789A";
            header += static_cast<char>(check);
            data = encryptTraditional(header + data);
        }
        const auto offset = static_cast<uint32_t>(archive.size() - leading.size());
        std::string localExtra = e.localExtra;
        const bool localUncompressed = e.zip64Local && (e.zip64LocalMarked & kCentralUncompressed);
        const bool localCompressed = e.zip64Local && (e.zip64LocalMarked & kCentralCompressed);
        if (e.zip64Local) {
            std::string sizes;
            if (localUncompressed) {
                append64(sizes, e.zip64LocalSize.value_or(size));
            }
            if (localCompressed) {
                append64(sizes, data.size());
            }
            std::string block;
            append16(block, 1);
            append16(block, static_cast<uint32_t>(sizes.size()));
            localExtra = block + sizes + localExtra;
        }
        std::string local;
        append32(local, zip::kLocalHeaderSignature);
        append16(local, 20);
        append16(local, flags);
        append16(local, e.localMethod.value_or(e.method));
        append32(local, e.dosDateTime);
        append32(local, e.localCrc.value_or(crc));
        append32(local, localCompressed ? 0xFFFFFFFF : static_cast<uint32_t>(data.size()));
        append32(local, localUncompressed ? 0xFFFFFFFF : size);
        append16(local, e.localNameLength.value_or(static_cast<uint16_t>(e.name.size())));
        append16(local, static_cast<uint32_t>(localExtra.size()));
        archive += local + e.name + localExtra + data;

        const unsigned marked = e.zip64Central | (e.zip64CentralSize ? kCentralUncompressed : 0);
        std::string block;
        if (marked & kCentralUncompressed) {
            append64(block, e.zip64CentralSize.value_or(size));
        }
        if (marked & kCentralCompressed) {
            append64(block, data.size());
        }
        if (marked & kCentralOffset) {
            append64(block, offset);
        }
        if (marked & kCentralDisk) {
            append32(block, 0);
        }
        block.resize(block.size() - e.zip64CentralCut);
        std::string centralExtra;
        if (marked != 0) {
            append16(centralExtra, zip::kZip64ExtraId);
            append16(centralExtra,
                     e.zip64CentralStated.value_or(static_cast<uint16_t>(block.size())));
            centralExtra += block;
        }
        const auto field = [marked](unsigned bit, uint32_t value) {
            return (marked & bit) ? zip::kZip64Marker : value;
        };

        append32(central, zip::kCentralHeaderSignature);
        append16(central, e.versionMadeBy);
        append16(central, 20);
        append16(central, flags);
        append16(central, e.method);
        append32(central, e.dosDateTime);
        append32(central, crc);
        append32(central, field(kCentralCompressed, static_cast<uint32_t>(data.size())));
        append32(central, field(kCentralUncompressed, size));
        append16(central, static_cast<uint32_t>(e.name.size()));
        append16(central, static_cast<uint32_t>(centralExtra.size()));
        append16(central, 0);  // comment
        append16(central, (marked & kCentralDisk) ? zip::kZip64CountMarker : 0);
        append16(central, 0);  // internal attributes
        append32(central, e.external);
        append32(central, field(kCentralOffset, offset));
        central += e.name + centralExtra;
    }
    const auto centralOffset = static_cast<uint32_t>(archive.size() - leading.size());
    archive += central;
    append32(archive, zip::kEndSignature);
    append16(archive, 0);
    append16(archive, 0);
    append16(archive, static_cast<uint32_t>(entries.size()));
    append16(archive, static_cast<uint32_t>(entries.size()));
    append32(archive, static_cast<uint32_t>(central.size()));
    append32(archive, centralOffset);
    append16(archive, 0);
    return archive;
}

std::string withZip64End(const std::string& archive, uint64_t count, std::size_t leading,
                         bool locatorCountsLeading) {
    const std::size_t end = archive.size() - zip::kEndSize;
    const zip::EndOfDirectory record =
        zip::decodeEndOfDirectory(reinterpret_cast<const unsigned char*>(archive.data() + end));
    std::string out = archive.substr(0, end);
    append32(out, zip::kZip64EndSignature);
    append64(out, 44);  // the record's size after this field
    append16(out, 45);
    append16(out, 45);
    append32(out, 0);
    append32(out, 0);
    append64(out, count);
    append64(out, count);
    append64(out, record.directorySize);
    append64(out, record.directoryOffset);
    append32(out, zip::kZip64LocatorSignature);
    append32(out, 0);
    append64(out, locatorCountsLeading ? end : end - leading);
    append32(out, 1);
    append32(out, zip::kEndSignature);
    append32(out, 0);
    append16(out, 0xFFFF);
    append16(out, 0xFFFF);
    append32(out, 0xFFFFFFFF);
    append32(out, 0xFFFFFFFF);
    append16(out, 0);
    return out;
}

}  // namespace fw::test
