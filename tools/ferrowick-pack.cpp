// ferrowick-pack: makes a launcher that carries an installer set.
//
//   ferrowick-pack (--payload ARCHIVE.zip | --folder DIR) --output LAUNCHER [--stub STUB]
//                  [--prefix FILE] [--code-page N] [--force]
//   ferrowick-pack --check (--payload ARCHIVE.zip | --folder DIR | --launcher FILE)
//
// The launcher is the stub (by default the launcher "ferrowick" beside this program)
// with its resource "TIMELISTINGS"/"#132" set to a 54-byte prefix (by default a BMP file
// and information header) followed by the archive, byte for byte: for a Linux launcher
// appended to it in a resource table, for a Windows launcher (PE) in its resource
// section, where Windows loads it. A payload that the stub already carries is replaced.
// Nothing is written unless the whole launcher could be made (and, when asked, signed).
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

#include "pack/CodeSigning.h"
#include "pack/DescriptorWrites.h"
#include "pack/Packer.h"
#include "pack/WindowsLauncher.h"
#include "pe/PePayload.h"
#include "platform/Platform.h"
#include "platform/posix/ResourceTable.h"
#include "res/resource.h"
#include "tools/ToolInfo.h"

namespace {

using fw::pack::kPrefixSize;
using fw::pack::Options;
using fw::pack::writeAll;
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

fw::pe::ReadAt readerOf(int fd) {
    return [fd](void* buffer, std::size_t size, uint64_t offset) {
        return readAt(fd, buffer, size, offset);
    };
}

bool isElf(int fd) {
    char magic[4];
    return readAt(fd, magic, 4, 0) && std::memcmp(magic,
                                                  "\x7F"
                                                  "ELF",
                                                  4) == 0;
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

const char* const kNeither = "it is neither a Windows launcher (PE) nor a Linux launcher (ELF)";

// The signature of a Windows image: none without a certificate table.
fw::pack::Signature signatureOf(int fd, uint64_t size) {
    fw::pe::Image image;
    if (!fw::pe::readImage(readerOf(fd), size, image).empty() ||
        image.directories.size() <= fw::pe::kCertificateDirectory ||
        image.directories[fw::pe::kCertificateDirectory].size == 0) {
        return {fw::pack::SignatureKind::none, "none"};
    }
    return fw::pack::verifySignature(readerOf(fd), size);
}

std::string openWindowsLauncher(Fd& fd, uint64_t size, fw::pack::LauncherRead& read) {
    read.signature = signatureOf(fd.get(), size);
    fw::pack::PayloadSpan archive;
    if (std::string problem =
            fw::pack::readWindowsLauncher(readerOf(fd.get()), size, read, archive);
        !problem.empty()) {
        return problem;
    }
    read.payload = payloadIn(fd, archive.offset, archive.size);
    return {};
}

std::string openLauncher(const std::string& path, fw::pack::LauncherRead& read) {
    Fd fd;
    uint64_t size = 0;
    if (std::string problem = openRegular(path, fd, size); !problem.empty()) {
        return problem;
    }
    if (fw::pe::isPe(readerOf(fd.get()), size)) {
        return openWindowsLauncher(fd, size, read);
    }
    if (!isElf(fd.get())) {
        return kNeither;
    }
    const fw::posix::TableRead table = fw::posix::readResourceTable(fd.get());
    if (table.state == fw::posix::TableState::damaged) {
        return "its resource table is damaged (" + table.problem + ")";
    }
    for (const ResourceEntry& entry : table.table.entries) {
        if (table.state == fw::posix::TableState::valid &&
            entry.type == *fw::posix::parseResourceKey(FERROWICK_PAYLOAD_TYPE) &&
            entry.name == *fw::posix::parseResourceKey(FERROWICK_PAYLOAD_NAME)) {
            if (entry.size < kPrefixSize) {
                return "its payload is shorter than its prefix";
            }
            read.format = "Linux (ELF)";
            read.source = std::string("resource table ") + FERROWICK_PAYLOAD_TYPE
                          "/" FERROWICK_PAYLOAD_NAME " appended to the ELF";
            read.signature = {fw::pack::SignatureKind::none, "none"};
            read.payload = payloadIn(fd, entry.offset + kPrefixSize, entry.size - kPrefixSize);
            return {};
        }
    }
    return "it carries no payload";
}

std::string stubLimit(const std::string& stub, fw::pack::StubLimit& limit) {
    Fd fd;
    uint64_t size = 0;
    if (std::string problem = openRegular(stub, fd, size); !problem.empty()) {
        return problem;
    }
    if (!fw::pe::isPe(readerOf(fd.get()), size)) {
        limit.format = isElf(fd.get()) ? "Linux launcher (ELF)" : "neither PE nor ELF";
        return isElf(fd.get()) ? std::string() : kNeither;
    }
    return fw::pack::windowsStubLimit(readerOf(fd.get()), size, limit);
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

// Writes a Linux launcher: the stub's image, the payload 64 KiB-aligned, the table.
std::string writeElf(const Options& options, int stub, uint64_t stubSize, const std::string& prefix,
                     const fw::pack::Payload& payload, int out) {
    const fw::posix::TableRead existing = fw::posix::readResourceTable(stub);
    if (existing.state == fw::posix::TableState::damaged) {
        return "the stub " + options.stub + " carries a damaged resource table (" +
               existing.problem + ")";
    }
    // A stub that already carries resources gives only its image; they are replaced.
    const uint64_t imageSize =
        existing.state == fw::posix::TableState::valid ? existing.table.imageSize : stubSize;
    if (!fw::pack::holdsLauncherMarker(readerOf(stub), imageSize)) {
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
    const std::string padding(entry.offset - imageSize, '\0');
    const bool written = copyRange(stub, 0, imageSize, out) &&
                         writeAll(out, padding.data(), padding.size()) &&
                         writeAll(out, prefix.data(), prefix.size()) && copyPayload(payload, out) &&
                         writeAll(out, tableBytes.data(), tableBytes.size());
    return written ? std::string() : "cannot write " + options.output + ": " + errnoText();
}

// Writes a Windows launcher: the stub with its payload resource replaced.
std::string writePe(const Options& options, int stub, uint64_t stubSize, const std::string& prefix,
                    const fw::pack::Payload& payload, const fw::pe::ResourceEdits& edits, int out,
                    fw::pack::Made& made) {
    fw::pe::Output output;
    output.append = [out](const void* data, std::size_t size) { return writeAll(out, data, size); };
    output.writeAt = [out](const void* data, std::size_t size, uint64_t offset) {
        return pwrite(out, data, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
    };
    const std::string problem = fw::pack::writeWindowsLauncher(
        options, readerOf(stub), stubSize, prefix, payload, edits, output, made);
    return problem == "cannot write" ? "cannot write " + options.output + ": " + errnoText()
                                     : problem;
}

// Builds the launcher; on failure gives the reason and writes nothing.
std::string writeLauncher(const Options& options, const std::string& prefix,
                          const fw::pack::Payload& payload, const fw::pe::ResourceEdits& edits,
                          fw::pack::Made& made) {
    Fd stub;
    uint64_t stubSize = 0;
    if (const std::string problem = openRegular(options.stub, stub, stubSize); !problem.empty()) {
        return "cannot read the stub " + options.stub + ": " + problem;
    }
    const bool pe = fw::pe::isPe(readerOf(stub.get()), stubSize);
    if (!pe && !isElf(stub.get())) {
        return "the stub " + options.stub + " is not a launcher: " + kNeither;
    }
    if (!pe && options.signing.wanted()) {
        return "only a Windows launcher is signed, and " + options.stub +
               " is a Linux launcher (ELF)";
    }
    if (!pe && !edits.empty()) {
        return "only a Windows launcher carries an icon and version information, and " +
               options.stub + " is a Linux launcher (ELF)";
    }

    // Written beside the output and renamed over it only when complete.
    std::string temporary = options.output + ".XXXXXX";
    Fd out(mkstemp(temporary.data()));
    if (out.get() < 0) {
        return "cannot create a file beside " + options.output + ": " + errnoText();
    }
    std::string problem =
        pe ? writePe(options, stub.get(), stubSize, prefix, payload, edits, out.get(), made)
           : writeElf(options, stub.get(), stubSize, prefix, payload, out.get());
    const mode_t mask = umask(0);
    umask(mask);
    if (problem.empty() && fchmod(out.get(), 0777 & ~mask) != 0) {
        problem = "cannot write " + options.output + ": " + errnoText();
    }
    if (close(out.release()) != 0 && problem.empty()) {
        problem = "cannot write " + options.output + ": " + errnoText();
    }
    made.format = pe ? "a Windows launcher (PE)" : "a Linux launcher (ELF)";
    made.signature = {fw::pack::SignatureKind::none, "none"};
    std::string ready = temporary;
    std::string signingFolder;
    if (problem.empty() && options.signing.wanted()) {
        // The signer writes a file of its own, which must not exist yet.
        signingFolder = options.output + ".signing-XXXXXX";
        if (mkdtemp(signingFolder.data()) == nullptr) {
            problem = "cannot create a folder beside " + options.output + ": " + errnoText();
            signingFolder.clear();
        } else {
            ready = signingFolder + "/signed";
            problem = fw::pack::signImage(options.signing, temporary, ready);
        }
        Fd signedFd;
        uint64_t signedSize = 0;
        if (problem.empty()) {
            if (std::string unread = openRegular(ready, signedFd, signedSize); !unread.empty()) {
                problem = "cannot read the signed launcher back: " + unread;
            }
        }
        if (problem.empty()) {
            made.signature = signatureOf(signedFd.get(), signedSize);
            if (made.signature.kind != fw::pack::SignatureKind::valid) {
                problem =
                    "the signed launcher does not verify: its signature is " + made.signature.text;
            } else if (chmod(ready.c_str(), 0777 & ~mask) != 0) {
                problem = "cannot write " + options.output + ": " + errnoText();
            }
        }
    }
    if (problem.empty() && rename(ready.c_str(), options.output.c_str()) != 0) {
        problem = "cannot write " + options.output + ": " + errnoText();
    }
    if (!problem.empty() || ready != temporary) {
        unlink(temporary.c_str());
    }
    if (!signingFolder.empty()) {
        unlink((signingFolder + "/signed").c_str());
        rmdir(signingFolder.c_str());
    }
    return problem;
}

}  // namespace

int main(int argc, char** argv) {
    if (fw::tool::answered(argc, argv, "ferrowick-pack", fw::pack::kUsage, fw::pack::kHelp)) {
        return 0;
    }
    fw::pack::Backend backend;
    backend.defaultStub = defaultStub();
    backend.defaultCodePage = fw::hostPlatform().ansiCodePage();
    backend.openArchive = openArchive;
    backend.openLauncher = openLauncher;
    backend.writeLauncher = writeLauncher;
    backend.stubLimit = stubLimit;
    backend.scratch = scratchFile;
    return fw::pack::runPacker(argc, argv, backend);
}
