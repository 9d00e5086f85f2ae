#include "tools/ferrowick-pack-common.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace fw::pack {

namespace {

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;

uint32_t le(const unsigned char* p, int width) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
        value |= uint32_t{p[i]} << (8 * i);
    }
    return value;
}

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
    if (le(end.data(), 4) != 0x06054b50) {
        std::string problem = "it has no end-of-central-directory record at its end";
        return problem + " (not a ZIP archive, or one with an archive comment)";
    }
    if (le(end.data() + 20, 2) != 0) {
        return "it has an archive comment; the archive must end with its end record";
    }
    if (le(end.data() + 4, 2) != 0 || le(end.data() + 6, 2) != 0 ||
        le(end.data() + 8, 2) != le(end.data() + 10, 2)) {
        return "it is a multi-part archive";
    }
    const uint64_t entries = le(end.data() + 10, 2);
    const uint64_t cdSize = le(end.data() + 12, 4);
    const uint64_t cdOffset = le(end.data() + 16, 4);
    if (entries == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF) {
        std::array<unsigned char, kZip64LocatorSize> locator{};
        if (size < kEndRecordSize + kZip64LocatorSize ||
            !readAt(locator.data(), locator.size(), size - kEndRecordSize - kZip64LocatorSize) ||
            le(locator.data(), 4) != 0x07064b50) {
            return "its end record announces a ZIP64 record that is not there";
        }
        return {};
    }
    if (cdOffset + cdSize > size - kEndRecordSize) {
        return "its central directory lies outside the file";
    }
    if (entries > 0) {
        unsigned char sig[4];
        if (!readAt(sig, 4, cdOffset) || le(sig, 4) != 0x02014b50) {
            return "its central directory is not where its end record says";
        }
        if (!readAt(sig, 4, 0) || le(sig, 4) != 0x04034b50) {
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
