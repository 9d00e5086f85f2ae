// ferrowick-pack: makes a launcher that carries an installer set.
//
//   ferrowick-pack --payload ARCHIVE.zip --output LAUNCHER [--stub STUB] [--prefix FILE]
//
// The launcher is the stub (by default the launcher "ferrowick" beside this program)
// with one resource appended, type "TIMELISTINGS" and name "#132": a 54-byte prefix (by
// default a BMP file and information header) followed by the archive, byte for byte. A
// payload that the stub already carries is replaced. Nothing is written unless the
// whole launcher could be made.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/ResourceTable.h"
#include "res/resource.h"

namespace {

using fw::posix::ResourceEntry;
using fw::posix::ResourceTable;

constexpr std::size_t kPrefixSize = 54;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kCopyChunk = 1 << 20;

const char* const kUsage =
    "usage: ferrowick-pack --payload ARCHIVE.zip --output LAUNCHER [--stub STUB] "
    "[--prefix FILE]\n";

struct Options {
    std::string payload;
    std::string output;
    std::string stub;
    std::string prefix;
};

// An open file descriptor that closes itself.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

std::string errnoText() {
    return std::strerror(errno);
}

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

// The BMP file header and information header that the shipped payload begins with.
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

bool readAt(int fd, void* buffer, std::size_t size, uint64_t offset) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t n = pread(fd, out, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        out += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool copyRange(int from, uint64_t offset, uint64_t size, int to) {
    std::vector<char> buffer(kCopyChunk);
    while (size > 0) {
        const std::size_t chunk =
            size < buffer.size() ? static_cast<std::size_t>(size) : buffer.size();
        if (!readAt(from, buffer.data(), chunk, offset) || !writeAll(to, buffer.data(), chunk)) {
            return false;
        }
        offset += chunk;
        size -= chunk;
    }
    return true;
}

std::optional<uint64_t> sizeOf(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(st.st_size);
}

// Why `fd` is no complete ZIP archive whose end record closes the file, or empty.
std::string zipProblem(int fd, uint64_t size) {
    if (size < kEndRecordSize) {
        return "it is too short to be a ZIP archive";
    }
    std::array<unsigned char, kEndRecordSize> end{};
    if (!readAt(fd, end.data(), end.size(), size - kEndRecordSize)) {
        return "it cannot be read: " + errnoText();
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
            !readAt(fd, locator.data(), locator.size(),
                    size - kEndRecordSize - kZip64LocatorSize) ||
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
        if (!readAt(fd, sig, 4, cdOffset) || le(sig, 4) != 0x02014b50) {
            return "its central directory is not where its end record says";
        }
        if (!readAt(fd, sig, 4, 0) || le(sig, 4) != 0x04034b50) {
            return "it does not begin with a local header";
        }
    }
    return {};
}

// True when the marker that every launcher holds lies in the first `size` bytes.
bool holdsLauncherMarker(int fd, uint64_t size) {
    const std::string marker =
        std::string(FERROWICK_LAUNCHER_MARKER_HEAD) + FERROWICK_LAUNCHER_MARKER_TAIL;
    std::string window;
    std::vector<char> buffer(kCopyChunk);
    for (uint64_t offset = 0; offset < size;) {
        const std::size_t chunk =
            size - offset < buffer.size() ? static_cast<std::size_t>(size - offset) : buffer.size();
        if (!readAt(fd, buffer.data(), chunk, offset)) {
            return false;
        }
        offset += chunk;
        // Keep the tail of the previous chunk, so that a marker across chunks is seen.
        window.erase(0, window.size() > marker.size() ? window.size() - marker.size() : 0);
        window.append(buffer.data(), chunk);
        if (window.find(marker) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string defaultStub() {
    std::string self(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", self.data(), self.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= self.size()) {
        return "ferrowick";
    }
    self.resize(static_cast<std::size_t>(n));
    return folderOf(self) + "/ferrowick";
}

bool parseOptions(int argc, char** argv, Options& options) {
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
        options.stub = defaultStub();
    }
    return true;
}

// Builds the launcher; on failure gives the reason and writes nothing.
std::string pack(const Options& options) {
    std::string prefix = defaultPrefix();
    if (!options.prefix.empty()) {
        Fd file(open(options.prefix.c_str(), O_RDONLY | O_CLOEXEC));
        const auto size = file.get() >= 0 ? sizeOf(file.get()) : std::nullopt;
        if (!size) {
            return "cannot read the prefix file " + options.prefix + ": " + errnoText();
        }
        if (*size != kPrefixSize) {
            return "the prefix file " + options.prefix + " has " + std::to_string(*size) +
                   " bytes; it must have exactly 54";
        }
        if (!readAt(file.get(), prefix.data(), kPrefixSize, 0)) {
            return "cannot read the prefix file " + options.prefix + ": " + errnoText();
        }
    }

    Fd payload(open(options.payload.c_str(), O_RDONLY | O_CLOEXEC));
    const auto payloadSize = payload.get() >= 0 ? sizeOf(payload.get()) : std::nullopt;
    if (!payloadSize) {
        return "cannot read the payload " + options.payload + ": " + errnoText();
    }
    if (const std::string problem = zipProblem(payload.get(), *payloadSize); !problem.empty()) {
        return "the payload " + options.payload + " is refused: " + problem;
    }

    Fd stub(open(options.stub.c_str(), O_RDONLY | O_CLOEXEC));
    const auto stubSize = stub.get() >= 0 ? sizeOf(stub.get()) : std::nullopt;
    if (!stubSize) {
        return "cannot read the stub " + options.stub + ": " + errnoText();
    }
    const fw::posix::TableRead existing = fw::posix::readResourceTable(stub.get());
    if (existing.state == fw::posix::TableState::damaged) {
        return "the stub " + options.stub + " carries a damaged resource table (" +
               existing.problem + ")";
    }
    // A stub that already carries resources gives only its image; they are replaced.
    const uint64_t imageSize =
        existing.state == fw::posix::TableState::valid ? existing.table.imageSize : *stubSize;
    if (!holdsLauncherMarker(stub.get(), imageSize)) {
        return "the stub " + options.stub + " is not a launcher";
    }

    ResourceTable table;
    table.imageSize = imageSize;
    ResourceEntry entry;
    entry.type = *fw::posix::parseResourceKey(FERROWICK_PAYLOAD_TYPE);
    entry.name = *fw::posix::parseResourceKey(FERROWICK_PAYLOAD_NAME);
    entry.offset = fw::posix::alignResourceOffset(imageSize);
    entry.size = kPrefixSize + *payloadSize;
    table.tableOffset = entry.offset + entry.size;
    table.entries.push_back(entry);
    const std::string tableBytes = fw::posix::encodeResourceTable(table);

    // Written beside the output and renamed over it only when complete.
    std::string temporary = options.output + ".XXXXXX";
    Fd out(mkstemp(temporary.data()));
    if (out.get() < 0) {
        return "cannot create a file beside " + options.output + ": " + errnoText();
    }
    const std::string padding(entry.offset - imageSize, '\0');
    const mode_t mask = umask(0);
    umask(mask);
    const bool written = copyRange(stub.get(), 0, imageSize, out.get()) &&
                         writeAll(out.get(), padding.data(), padding.size()) &&
                         writeAll(out.get(), prefix.data(), prefix.size()) &&
                         copyRange(payload.get(), 0, *payloadSize, out.get()) &&
                         writeAll(out.get(), tableBytes.data(), tableBytes.size()) &&
                         fchmod(out.get(), 0777 & ~mask) == 0;
    const std::string why = errnoText();
    const bool closed = close(out.release()) == 0;
    if (!written || !closed || rename(temporary.c_str(), options.output.c_str()) != 0) {
        const std::string reason = written && closed ? errnoText() : why;
        unlink(temporary.c_str());
        return "cannot write " + options.output + ": " + reason;
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
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
