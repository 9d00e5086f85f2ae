// ferrowick-unpack [--workers N] [--quiet] ARCHIVE FOLDER: unpacks every item of ARCHIVE
// below FOLDER with the archive reader, in the order and manner of the installation
// sequence, with a progress bar on standard error when that is a terminal.
//
// Both arguments are host paths. On Windows they are drive paths already. Elsewhere an
// absolute host path becomes its Z: drive path, its bytes converted to the ANSI code
// page; a path that the drive path cannot carry faithfully (a name the code page cannot
// express, a backslash, a trailing dot or blank, a character Windows refuses) is refused,
// and so is one that names nothing usable. FOLDER is made first, as spelled, so that the
// reader's case-insensitive lookup finds it and nothing beside it.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "archive/ArchiveReader.h"
#include "archive/ArchiveUnpacker.h"
#include "platform/ProgressText.h"
#include "tools/ToolInfo.h"

#ifdef _WIN32
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/posix/CodePage.h"
#include "platform/posix/Paths.h"
#endif

namespace {

constexpr const char* kUsage = "usage: ferrowick-unpack [--workers N] [--quiet] ARCHIVE FOLDER\n";
constexpr const char* kHelp =
    "Unpacks every item of the ZIP archive ARCHIVE below FOLDER (made when missing) with\n"
    "the launcher's archive reader, as the launcher unpacks its payload: on as many\n"
    "threads as there are processors, four at most (--workers N: at most N; with 1, item\n"
    "by item on one thread), each item reported in the archive's order.\n"
    "Nothing is written through a symbolic link found in FOLDER or below it (links on the\n"
    "way to FOLDER are followed): an item in the way of one fails. Each item that fails\n"
    "gets a line on standard error with its result; a summary follows. On a terminal a\n"
    "progress bar shows the items and bytes unpacked; --quiet leaves it out. Exit status:\n"
    "0 when every item was unpacked, 1 when one failed or the archive cannot be opened, 2\n"
    "when an argument cannot be used.\n";

// A bar on standard error, drawn over itself at most ten times a second and wiped at the
// end; a line about an item is written over it and the bar drawn again below.
class TerminalBar {
  public:
    TerminalBar(bool wanted, fw::Progress total)
        : shown_(wanted && isatty(fileno(stderr)) != 0), total_(total) {
        draw();
    }
    ~TerminalBar() { wipe(); }
    TerminalBar(const TerminalBar&) = delete;
    TerminalBar& operator=(const TerminalBar&) = delete;

    void itemDone(std::uint64_t bytes) {
        ++done_.items;
        done_.bytes += bytes;
        if (done_.items == total_.items ||
            Clock::now() - drawnAt_ >= std::chrono::milliseconds(100)) {
            draw();
        }
    }
    // Writes a line of its own, with the bar after it.
    void say(const std::string& line) {
        wipe();
        std::fputs(line.c_str(), stderr);
        draw();
    }

  private:
    using Clock = std::chrono::steady_clock;
    void draw() {
        if (!shown_) {
            return;
        }
        const std::string text = fw::progressBar(fw::progressPermille(done_, total_), 30) + " " +
                                 fw::progressCounts(done_, total_);
        std::fprintf(stderr, "\r%s", text.c_str());
        std::fflush(stderr);
        width_ = std::max(width_, text.size());
        drawnAt_ = Clock::now();
    }
    void wipe() {
        if (shown_ && width_ > 0) {
            std::fprintf(stderr, "\r%s\r", std::string(width_, ' ').c_str());
            std::fflush(stderr);
        }
        width_ = 0;
    }
    bool shown_;
    fw::Progress total_;
    fw::Progress done_;
    std::size_t width_ = 0;
    Clock::time_point drawnAt_;
};

// The result's name, and the system's reason where it says more.
std::string outcome(ArchiveResult result, uint32_t error) {
    const char* name = ArchiveResultName(result);
    std::string text = name != nullptr ? name : "an unknown result";
    if ((result == AR_CANNOT_OPEN || result == AR_WRITE_FAILED) &&
        error == fw::kErrorCantResolveFilename) {
        text += " (a symbolic link stands in its way)";
    }
    return text;
}

// `bytes` in double quotes, with control bytes written as \xNN.
std::string shown(std::string_view bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// What a failed item is called: its cleaned name, else its stored bytes, else nothing.
std::string itemLabel(ArchiveHandle handle, const fw::archive::ItemOutcome& item) {
    std::string label;
    if (!item.name.empty()) {
#ifdef _WIN32
        label.append(" ").append(shown(item.name));
#else
        label.append(" ").append(shown(fw::posix::ansiToUtf8(item.name, fw::os().ansiCodePage())));
#endif
    } else if (std::string stored; GetArchiveItemStoredName(handle, item.index, stored) == AR_OK) {
        label.append(" (stored as ").append(shown(stored)).append(")");
    }
    return label;
}

#ifdef _WIN32

// Windows: the host path is the drive path. A folder that is missing is made by the
// reader.
std::string drivePath(const std::string& host, bool folder, std::string& drive) {
    drive = host;
    const uint32_t attributes = fw::os().getFileAttributes(host.c_str());
    const bool exists = attributes != fw::kInvalidAttributes;
    const bool isFolder = exists && (attributes & fw::kAttrDirectory) != 0;
    if (host.empty()) {
        return "the path is empty";
    }
    if (drive.size() + (folder ? 2 : 0) >= kArchivePathSize) {
        return "it is longer than a path may be";
    }
    if (folder) {
        return !exists || isFolder ? "" : "it is not a folder";
    }
    return !exists ? "it does not exist" : isFolder ? "it is a folder" : "";
}

std::string makeFolder(const std::string& /*host*/) {
    return {};
}

#else

// Why a drive path cannot carry the host name `name` as it is, or empty.
std::string nameProblem(std::string_view name) {
    if (name.find('\\') != std::string_view::npos) {
        return "holds a backslash, which a drive path takes for a separator";
    }
    if (name.back() == '.' || name.back() == ' ') {
        return "ends in a dot or a blank, which a drive path drops";
    }
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) {
            return "holds a character that a drive path cannot hold";
        }
    }
    return {};
}

std::filesystem::path absolutePath(const std::string& host, std::error_code& error) {
    return std::filesystem::weakly_canonical(std::filesystem::absolute(host, error), error);
}

// The drive path of the host path `host` in `drive`, or why there is none. `folder`: it
// must be a folder or nothing yet; else an existing regular file.
std::string drivePath(const std::string& host, bool folder, std::string& drive) {
    if (host.empty()) {
        return "the path is empty";
    }
    std::error_code error;
    const std::string text = absolutePath(host, error).string();
    if (error) {
        return error.message();
    }
    for (std::size_t at = 1; at < text.size();) {
        const std::size_t end = std::min(text.find('/', at), text.size());
        const std::string_view name = std::string_view(text).substr(at, end - at);
        if (const std::string problem = nameProblem(name); !problem.empty()) {
            return "its name " + shown(name) + " " + problem;
        }
        at = end + 1;
    }
    if (!fw::os().ansiFromUtf8(("Z:" + text).c_str(), drive)) {
        return "the ANSI code page " + std::to_string(fw::os().ansiCodePage()) +
               " cannot express it";
    }
    // A folder's path, a separator and a name of one byte must fit.
    if (drive.size() + (folder ? 2 : 0) >= kArchivePathSize) {
        return "its drive path is longer than a path may be";
    }
    struct stat info {};
    if (stat(text.c_str(), &info) != 0) {
        return folder && errno == ENOENT ? "" : std::strerror(errno);
    }
    if (folder) {
        return S_ISDIR(info.st_mode) ? "" : "it is not a folder";
    }
    return S_ISREG(info.st_mode) ? ""
           : S_ISDIR(info.st_mode) ? "it is a folder"
                                   : "it is not a regular file";
}

// Makes the folder as spelled, with its parents. Links on the way to it are the user's
// and are followed; from it on down, nothing is written through a link, as a drive's
// root keeps links out of the launcher's tree.
std::string makeFolder(const std::string& host) {
    std::error_code error;
    std::filesystem::create_directories(absolutePath(host, error), error);
    if (error) {
        return "it cannot be made: " + error.message();
    }
    const std::filesystem::path real = absolutePath(host, error);
    if (error) {
        return "it cannot be made: " + error.message();
    }
    fw::posix::refuseLinksBelow(real.string());
    return {};
}

#endif

int refused(const char* what, const char* host, const std::string& problem) {
    std::fprintf(stderr, "ferrowick-unpack: %s %s cannot be used: %s (name another)\n", what,
                 shown(host).c_str(), problem.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (fw::tool::answered(argc, argv, "ferrowick-unpack", kUsage, kHelp)) {
        return 0;
    }
    int workers = 4;
    bool quiet = false;
    // The options, in any order, before the two arguments.
    while (argc > 3) {
        if (std::strcmp(argv[1], "--quiet") == 0) {
            quiet = true;
            argv += 1;
            argc -= 1;
            continue;
        }
        if (std::strcmp(argv[1], "--workers") != 0) {
            break;
        }
        char* end = nullptr;
        const long n = std::strtol(argv[2], &end, 10);
        if (end == argv[2] || *end != '\0' || n < 1 || n > 64) {
            std::fprintf(stderr,
                         "ferrowick-unpack: --workers takes a number from 1 to 64 (see "
                         "ferrowick-unpack --help)\n");
            return 2;
        }
        workers = static_cast<int>(n);
        argv += 2;
        argc -= 2;
    }
    if (argc != 3) {
        std::fputs("ferrowick-unpack: give an archive and a folder (see ferrowick-unpack --help)\n",
                   stderr);
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string archive;
    std::string folder;
    if (const std::string problem = drivePath(argv[1], false, archive); !problem.empty()) {
        return refused("the archive", argv[1], problem);
    }
    if (const std::string problem = drivePath(argv[2], true, folder); !problem.empty()) {
        return refused("the folder", argv[2], problem);
    }
    ArchiveHandle handle = OpenArchive(archive.c_str());
    if (!handle) {
        std::fprintf(stderr,
                     "ferrowick-unpack: %s is no ZIP archive that can be read (check it with "
                     "ferrowick-pack --check --payload)\n",
                     shown(argv[1]).c_str());
        return 1;
    }
    if (const std::string problem = makeFolder(argv[2]); !problem.empty()) {
        CloseArchive(handle);
        return refused("the folder", argv[2], problem);
    }
    if (folder.back() != '/' && folder.back() != '\\') {
        folder += '/';
    }
    ArchiveItem item;
    GetArchiveItem(handle, -1, item);
    const int32_t count = item.index;
    fw::Progress total{static_cast<std::uint64_t>(count), 0};
    (void)GetArchiveUnpackedSize(handle, total.bytes);  // what cannot be reached fails below
    int32_t failed = 0;
    {
        TerminalBar bar(!quiet, total);
        fw::archive::ArchiveUnpacker unpacker(handle, count, folder,
                                              fw::archive::unpackWorkers(workers));
        for (fw::archive::ItemOutcome unpacked; unpacker.next(unpacked);) {
            if (unpacked.result != AR_OK) {
                bar.say("ferrowick-unpack: item " + std::to_string(unpacked.index) +
                        itemLabel(handle, unpacked) + ": " +
                        outcome(unpacked.result, unpacked.error) + "\n");
                ++failed;
            }
            bar.itemDone(unpacked.described ? unpacked.size : 0);
        }
    }
    CloseArchive(handle);
    std::printf("ferrowick-unpack: %d of %d items unpacked, %d failed\n", count - failed, count,
                failed);
    return failed == 0 ? 0 : 1;
}
