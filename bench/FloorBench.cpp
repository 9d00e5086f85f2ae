// The floors of the launcher benchmark: what unpacking an archive costs at the least.
//   ferrowick-floor inflate ARCHIVE          inflates every item with ISA-L and checks its
//                                            CRC-32, on one thread, writing nothing
//   ferrowick-floor write ARCHIVE FOLDER     writes every item, inflated beforehand, below
//                                            FOLDER: folders and file bytes, no times and
//                                            no attributes
// Prints "seconds S cpu C": the wall and the user plus system time of the timed phase.
#include <fcntl.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace {

constexpr std::size_t kPieceSize = 16384;      // minizip's read size, for loading
constexpr std::size_t kReadSize = 256 * 1024;  // the reader's pieces

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "ferrowick-floor: %s\n", message.c_str());
    std::exit(1);
}

[[noreturn]] void failErrno(const std::string& what) {
    fail(what + ": " + std::strerror(errno));
}

struct Stamp {
    double wall;
    double cpu;
};

Stamp stamp() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {now.tv_sec + now.tv_nsec / 1e9, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

void report(const Stamp& start) {
    const Stamp end = stamp();
    std::printf("seconds %.6f cpu %.6f\n", end.wall - start.wall, end.cpu - start.cpu);
}

// Walks every item of `archive` in stored order: `item(name, isFolder, size)` for each,
// then `piece(data, n)` for each piece of a file's bytes, read as the launcher reads them.
// minizip checks each file's CRC when it is closed.
template <typename Item, typename Piece>
void walk(const char* archive, Item item, Piece piece) {
    unzFile zip = unzOpen64(archive);
    if (zip == nullptr) {
        fail(std::string("cannot open ") + archive + " as a ZIP archive");
    }
    static char name[65536];
    static char buffer[kPieceSize];
    for (int at = unzGoToFirstFile(zip); at != UNZ_END_OF_LIST_OF_FILE; at = unzGoToNextFile(zip)) {
        unz_file_info64 info{};
        if (at != UNZ_OK || unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0,
                                                    nullptr, 0) != UNZ_OK) {
            fail("damaged central directory");
        }
        const std::string_view stored(name);
        const bool folder = !stored.empty() && stored.back() == '/';
        item(stored, folder, info.uncompressed_size);
        if (folder) {
            continue;
        }
        if (unzOpenCurrentFile(zip) != UNZ_OK) {
            fail("cannot open item " + std::string(stored));
        }
        int got = 0;
        while ((got = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0) {
            piece(buffer, static_cast<std::size_t>(got));
        }
        if (got < 0 || unzCloseCurrentFile(zip) != UNZ_OK) {
            fail("cannot inflate item " + std::string(stored) + " (or its CRC is wrong)");
        }
    }
    unzClose(zip);
}

// Inflates every item as the reader does: the catalogue through minizip, the data read
// with pread in 256 KB pieces, inflated with ISA-L into 256 KB, its CRC-32 by ISA-L.
void inflateAll(const char* archive) {
    unzFile zip = unzOpen64(archive);
    const int fd = open(archive, O_RDONLY | O_CLOEXEC);
    if (zip == nullptr || fd < 0) {
        fail(std::string("cannot open ") + archive + " as a ZIP archive");
    }
    static unsigned char in[kReadSize];
    static unsigned char out[kReadSize];
    static inflate_state state;
    for (int at = unzGoToFirstFile(zip); at != UNZ_END_OF_LIST_OF_FILE; at = unzGoToNextFile(zip)) {
        unz_file_info64 info{};
        int method = 0;
        int level = 0;
        if (at != UNZ_OK ||
            unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
            unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK) {
            fail("damaged archive");
        }
        auto offset = static_cast<off_t>(unzGetCurrentFileZStreamPos64(zip));
        unzCloseCurrentFile(zip);
        std::uint64_t left = info.compressed_size;
        std::uint32_t crc = 0;
        isal_inflate_init(&state);
        bool ended = info.uncompressed_size == 0;
        while (!ended) {
            if (state.avail_in == 0 && left > 0) {
                const ssize_t n = pread(fd, in, std::min<std::uint64_t>(left, kReadSize), offset);
                if (n <= 0) {
                    failErrno("cannot read");
                }
                offset += n;
                left -= static_cast<std::uint64_t>(n);
                state.next_in = in;
                state.avail_in = static_cast<std::uint32_t>(n);
            }
            if (method == 0) {
                crc = crc32_gzip_refl(crc, state.next_in, state.avail_in);
                state.avail_in = 0;
                ended = left == 0;
                continue;
            }
            state.next_out = out;
            state.avail_out = sizeof out;
            if (isal_inflate(&state) != ISAL_DECOMP_OK) {
                fail("cannot inflate an item");
            }
            crc = crc32_gzip_refl(crc, out, sizeof out - state.avail_out);
            ended = state.block_state == ISAL_BLOCK_FINISH;
        }
        if (crc != info.crc) {
            fail("an item's CRC-32 is wrong");
        }
    }
    unzClose(zip);
    close(fd);
}

struct Entry {
    std::string name;
    bool folder;
    std::string bytes;
};

// Every item's name and bytes; names that would leave the folder are refused.
std::vector<Entry> load(const char* archive) {
    std::vector<Entry> entries;
    walk(
        archive,
        [&](std::string_view name, bool folder, std::uint64_t size) {
            // Appended, not joined with operator+, which GCC 12 at -O3 warns of wrongly
            // (-Wrestrict).
            std::string padded = "/";
            padded.append(name).append("/");
            if (name.empty() || name.front() == '/' || padded.find("/../") != std::string::npos) {
                fail("refusing item name " + std::string(name));
            }
            entries.push_back({std::string(name), folder, {}});
            entries.back().bytes.reserve(size);
        },
        [&](const char* data, std::size_t n) { entries.back().bytes.append(data, n); });
    return entries;
}

// Makes each folder once (the archive's own and those its names imply), then each file.
void writeAll(int base, const std::vector<Entry>& entries) {
    std::unordered_set<std::string_view> made;
    for (const Entry& entry : entries) {
        const std::string_view name = entry.name;
        for (std::size_t slash = name.find('/'); slash != std::string_view::npos;
             slash = name.find('/', slash + 1)) {
            const std::string_view folder = name.substr(0, slash);
            if (!folder.empty() && made.insert(folder).second &&
                mkdirat(base, std::string(folder).c_str(), 0777) != 0 && errno != EEXIST) {
                failErrno("cannot make folder " + std::string(folder));
            }
        }
        if (entry.folder) {
            continue;
        }
        const int fd =
            openat(base, entry.name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            failErrno("cannot create " + entry.name);
        }
        const char* at = entry.bytes.data();
        std::size_t left = entry.bytes.size();
        while (left > 0) {
            const ssize_t n = write(fd, at, left);
            if (n < 0 && errno != EINTR) {
                failErrno("cannot write " + entry.name);
            }
            if (n > 0) {
                at += n;
                left -= static_cast<std::size_t>(n);
            }
        }
        if (close(fd) != 0) {
            failErrno("cannot close " + entry.name);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "inflate" && argc == 3) {
        const Stamp start = stamp();
        inflateAll(argv[2]);
        report(start);
        return 0;
    }
    if (mode == "write" && argc == 4) {
        const std::vector<Entry> entries = load(argv[2]);
        const int base = open(argv[3], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (base < 0) {
            failErrno(std::string("cannot open folder ") + argv[3]);
        }
        const Stamp start = stamp();
        writeAll(base, entries);
        report(start);
        close(base);
        return 0;
    }
    std::fprintf(stderr,
                 "usage: ferrowick-floor inflate ARCHIVE\n"
                 "       ferrowick-floor write ARCHIVE FOLDER\n");
    return 2;
}
