#include "tools/ferrowick-pack-common.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "archive/ZipLayout.h"

namespace fw::pack {

namespace {

using zip::kZip64LocatorSize;
constexpr std::size_t kEndRecordSize = zip::kEndSize;

void putLe(std::string& out, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

}  // namespace

const char* const kUsage =
    "usage: ferrowick-pack --payload ARCHIVE.zip --output LAUNCHER [--stub STUB] "
    "[--prefix FILE]\n";

namespace {

const char* const kHelp =
    "Makes a launcher that carries ARCHIVE.zip as its installer set: a copy of STUB (by\n"
    "default the launcher beside this program) whose payload resource is a 54-byte\n"
    "prefix (FILE, by default a bitmap header) followed by the archive, byte for byte.\n"
    "A payload the stub carries already is replaced. The archive must be a ZIP archive\n"
    "that ends with its end record. Nothing is written unless the whole launcher could\n"
    "be made. Exit status: 0 made, 1 refused, 2 bad options.\n";

}  // namespace

bool parseOptions(int argc, char** argv, const std::string& defaultStub, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string* target = nullptr;
        if (arg == "--payload") {
            target = &options.payload;
        } else if (arg == "--output") {
            target = &options.output;
        } else if (arg == "--stub") {
            target = &options.stub;
        } else if (arg == "--prefix") {
            target = &options.prefix;
        }
        if (target == nullptr || i + 1 >= argc || argv[i + 1][0] == '\0') {
            std::fprintf(stderr, "ferrowick-pack: %s %s\n",
                         target ? "missing value after" : "unknown option", argv[i]);
            return false;
        }
        *target = argv[++i];
    }
    if (options.payload.empty() || options.output.empty()) {
        std::fprintf(stderr, "ferrowick-pack: --payload and --output are required\n");
        return false;
    }
    if (options.stub.empty()) {
        options.stub = defaultStub;
    }
    return true;
}

std::string defaultPrefix() {
    std::string p = "BM";
    putLe(p, 838, 4);  // file size
    putLe(p, 0, 2);
    putLe(p, 0, 2);
    putLe(p, 118, 4);  // offset of the pixel data
    putLe(p, 40, 4);   // information header size
    putLe(p, 96, 4);   // width
    putLe(p, 15, 4);   // height
    putLe(p, 1, 2);    // planes
    putLe(p, 4, 2);    // bits per pixel
    putLe(p, 0, 4);    // no compression
    putLe(p, 720, 4);  // image size
    for (int i = 0; i < 4; ++i) {
        putLe(p, 0, 4);  // resolutions, colours used, important colours
    }
    return p;
}

std::string zipProblem(const ReadAt& readAt, uint64_t size) {
    if (size < kEndRecordSize) {
        return "it is too short to be a ZIP archive";
    }
    std::array<unsigned char, kEndRecordSize> end{};
    if (!readAt(end.data(), end.size(), size - kEndRecordSize)) {
        return "it cannot be read";
    }
    const zip::EndOfDirectory record = zip::decodeEndOfDirectory(end.data());
    if (record.signature != zip::kEndSignature) {
        std::string problem = "it has no end-of-central-directory record at its end";
        return problem + " (not a ZIP archive, or one with an archive comment)";
    }
    if (record.commentLength != 0) {
        return "it has an archive comment; the archive must end with its end record";
    }
    if (record.disk != 0 || record.directoryDisk != 0 || record.diskEntries != record.entries) {
        return "it is a multi-part archive";
    }
    const uint64_t entries = record.entries;
    const uint64_t cdSize = record.directorySize;
    const uint64_t cdOffset = record.directoryOffset;
    if (entries == zip::kZip64CountMarker || cdSize == zip::kZip64Marker ||
        cdOffset == zip::kZip64Marker) {
        std::array<unsigned char, kZip64LocatorSize> locator{};
        if (size < kEndRecordSize + kZip64LocatorSize ||
            !readAt(locator.data(), locator.size(), size - kEndRecordSize - kZip64LocatorSize) ||
            zip::readLittle(locator.data(), 4) != zip::kZip64LocatorSignature) {
            return "its end record announces a ZIP64 record that is not there";
        }
        return {};
    }
    if (cdOffset + cdSize > size - kEndRecordSize) {
        return "its central directory lies outside the file";
    }
    if (entries > 0) {
        unsigned char sig[4];
        if (!readAt(sig, 4, cdOffset) || zip::readLittle(sig, 4) != zip::kCentralHeaderSignature) {
            return "its central directory is not where its end record says";
        }
        if (!readAt(sig, 4, 0) || zip::readLittle(sig, 4) != zip::kLocalHeaderSignature) {
            return "it does not begin with a local header";
        }
    }
    return {};
}

std::string loadPrefix(const std::string& path, std::string& prefix) {
    if (path.empty()) {
        prefix = defaultPrefix();
        return {};
    }
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return "the prefix file " + path + " is a folder";
    }
    std::ifstream in(path, std::ios::binary);
    // One byte more than needed tells a longer file from a right one.
    std::string bytes(kPrefixSize + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!in && !in.eof()) {
        return "cannot read the prefix file " + path;
    }
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (bytes.size() != kPrefixSize) {
        return "the prefix file " + path + " has " +
               (bytes.size() > kPrefixSize ? std::string("more than 54")
                                           : std::to_string(bytes.size())) +
               " bytes; it must have exactly 54";
    }
    prefix = bytes;
    return {};
}

int runPacker(int argc, char** argv, const std::string& defaultStub,
              const std::function<std::string(const Options&)>& pack) {
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }
    Options options;
    if (!parseOptions(argc, argv, defaultStub, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string problem = pack(options);
    if (!problem.empty()) {
        std::fprintf(stderr, "ferrowick-pack: %s; nothing written\n", problem.c_str());
        return 1;
    }
    return 0;
}

}  // namespace fw::pack
