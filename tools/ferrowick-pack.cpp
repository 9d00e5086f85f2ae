// ferrowick-pack: makes a launcher that carries an installer set.
//
//   ferrowick-pack (--payload ARCHIVE.zip | --folder DIR) --output LAUNCHER [--stub STUB]
//                  [--prefix FILE] [--code-page N] [--force]
//   ferrowick-pack --check (--payload ARCHIVE.zip | --folder DIR | --launcher FILE)
//
// The launcher is the stub (by default the launcher "ferrowick" beside this program)
// with one resource appended, type "TIMELISTINGS" and name "#132": a 54-byte prefix (by
// default a BMP file and information header) followed by the archive, byte for byte. A
// payload that the stub already carries is replaced. Nothing is written unless the
// whole launcher could be made.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/posix/ResourceTable.h"
#include "res/resource.h"
#include "tools/ferrowick-pack-common.h"

namespace {

using fw::pack::kPrefixSize;
using fw::pack::Options;
using fw::posix::ResourceEntry;
using fw::posix::ResourceTable;

constexpr std::size_t kCopyChunk = 1 << 20;

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
    void reset(int fd) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = fd;
    }
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

// Opens a regular file for reading and gives its size, or why it cannot. A FIFO does
// not wait for a writer: it is refused as every file that is not regular.
std::string openRegular(const std::string& path, Fd& fd, uint64_t& size) {
    fd.reset(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0) {
        return errnoText();
    }
    if (!S_ISREG(st.st_mode)) {
        return S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file";
    }
    size = static_cast<uint64_t>(st.st_size);
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

// A payload read from an open file, from `offset` on.
fw::pack::Payload payloadIn(Fd& fd, uint64_t offset, uint64_t size) {
    auto held = std::make_shared<Fd>(fd.release());
    fw::pack::Payload payload;
    payload.size = size;
    payload.readAt = [held, offset](void* buffer, std::size_t count, uint64_t at) {
        return readAt(held->get(), buffer, count, offset + at);
    };
    return payload;
}

std::string openArchive(const std::string& path, fw::pack::Payload& payload) {
    Fd fd;
    uint64_t size = 0;
    if (std::string problem = openRegular(path, fd, size); !problem.empty()) {
        return problem;
    }
    payload = payloadIn(fd, 0, size);
    return {};
}

std::string openLauncher(const std::string& path, fw::pack::Payload& payload) {
    Fd fd;
    uint64_t size = 0;
    if (std::string problem = openRegular(path, fd, size); !problem.empty()) {
        return problem;
    }
    const fw::posix::TableRead read = fw::posix::readResourceTable(fd.get());
    if (read.state == fw::posix::TableState::damaged) {
        return "its resource table is damaged (" + read.problem + ")";
    }
    for (const ResourceEntry& entry : read.table.entries) {
        if (read.state == fw::posix::TableState::valid &&
            entry.type == *fw::posix::parseResourceKey(FERROWICK_PAYLOAD_TYPE) &&
            entry.name == *fw::posix::parseResourceKey(FERROWICK_PAYLOAD_NAME)) {
            if (entry.size < kPrefixSize) {
                return "its payload is shorter than its prefix";
            }
            payload = payloadIn(fd, entry.offset + kPrefixSize, entry.size - kPrefixSize);
            return {};
        }
    }
    return "it carries no payload";
}

// The archive made of a folder goes to a file without a name beside the output (for a
// check, in the temporary folder): the system frees it however the packer ends, and it
// never needs the archive's size in memory.
std::string scratchFile(const Options& options, fw::pack::Scratch& scratch) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = !options.output.empty()  ? folderOf(options.output)
                               : tmp != nullptr && *tmp ? std::string(tmp)
                                                        : std::string("/tmp");
    Fd fd(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        // A file system without unnamed files: a named one, unlinked at once.
        std::string path = folder + "/.ferrowick-pack-XXXXXX";
        fd.reset(mkstemp(path.data()));
        if (fd.get() >= 0) {
            unlink(path.c_str());
        }
    }
    if (fd.get() < 0) {
        return "cannot make a scratch file in " + folder + ": " + errnoText();
    }
    auto held = std::make_shared<Fd>(fd.release());
    scratch.writeAt = [held](const void* data, std::size_t size, uint64_t offset) {
        const auto* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = pwrite(held->get(), bytes, size, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            bytes += n;
            size -= static_cast<std::size_t>(n);
            offset += static_cast<uint64_t>(n);
        }
        return true;
    };
    scratch.readAt = [held](void* buffer, std::size_t size, uint64_t offset) {
        return readAt(held->get(), buffer, size, offset);
    };
    return {};
}

bool copyPayload(const fw::pack::Payload& payload, int to) {
    std::vector<char> buffer(kCopyChunk);
    for (uint64_t offset = 0; offset < payload.size;) {
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<uint64_t>(payload.size - offset, buffer.size()));
        if (!payload.readAt(buffer.data(), chunk, offset) || !writeAll(to, buffer.data(), chunk)) {
            return false;
        }
        offset += chunk;
    }
    return true;
}

// Builds the launcher; on failure gives the reason and writes nothing.
std::string writeLauncher(const Options& options, const std::string& prefix,
                          const fw::pack::Payload& payload) {
    Fd stub;
    uint64_t stubSize = 0;
    if (const std::string problem = openRegular(options.stub, stub, stubSize); !problem.empty()) {
        return "cannot read the stub " + options.stub + ": " + problem;
    }
    const fw::posix::TableRead existing = fw::posix::readResourceTable(stub.get());
    if (existing.state == fw::posix::TableState::damaged) {
        return "the stub " + options.stub + " carries a damaged resource table (" +
               existing.problem + ")";
    }
    // A stub that already carries resources gives only its image; they are replaced.
    const uint64_t imageSize =
        existing.state == fw::posix::TableState::valid ? existing.table.imageSize : stubSize;
    if (!holdsLauncherMarker(stub.get(), imageSize)) {
        return "the stub " + options.stub + " is not a launcher";
    }

    ResourceTable table;
    table.imageSize = imageSize;
    ResourceEntry entry;
    entry.type = *fw::posix::parseResourceKey(FERROWICK_PAYLOAD_TYPE);
    entry.name = *fw::posix::parseResourceKey(FERROWICK_PAYLOAD_NAME);
    entry.offset = fw::posix::alignResourceOffset(imageSize);
    entry.size = kPrefixSize + payload.size;
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
                         copyPayload(payload, out.get()) &&
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
    fw::pack::Backend backend;
    backend.defaultStub = defaultStub();
    backend.defaultCodePage = fw::hostPlatform().ansiCodePage();
    backend.openArchive = openArchive;
    backend.openLauncher = openLauncher;
    backend.writeLauncher = writeLauncher;
    backend.scratch = scratchFile;
    return fw::pack::runPacker(argc, argv, backend);
}
