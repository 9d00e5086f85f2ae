// The process entries of the POSIX backend: the command line, the own path, the own
// resources and strings, the notices and the About box on standard error, output and the
// usage on standard output, sleeping and the process id.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/Backend.h"
#include "platform/posix/CodePage.h"
#include "platform/posix/Command.h"
#include "platform/posix/FileWrites.h"
#include "platform/posix/MappedFiles.h"
#include "platform/posix/Paths.h"
#include "platform/posix/PrefixSetUp.h"
#include "platform/posix/Progress.h"
#include "platform/posix/ResourceTable.h"
#include "res/resource.h"

namespace fw::posix {

namespace {

// Every launcher image holds this; the packer refuses a stub without it.
[[gnu::used]] const char launcherMarker[] =
    FERROWICK_LAUNCHER_MARKER_HEAD FERROWICK_LAUNCHER_MARKER_TAIL;

const char* const kOwnExecutable = "/proc/self/exe";

std::string readLink(const char* link) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = readlink(link, buffer.data(), buffer.size());
        if (n < 0) {
            return {};
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// The own executable's resource table, read once; its file stays open for mapping.
struct OwnResources {
    int fd = -1;
    ResourceTable table;
    bool valid = false;
};

const OwnResources& ownResources() {
    static const OwnResources own = [] {
        OwnResources result;
        result.fd = open(kOwnExecutable, O_RDONLY | O_CLOEXEC);
        if (result.fd >= 0) {
            TableRead read = readResourceTable(result.fd);
            result.valid = read.state == TableState::valid;
            result.table = std::move(read.table);
        }
        return result;
    }();
    return own;
}

// Notices have nowhere else to go: a failed write is let be.
void toStandardError(std::string_view text) {
    writeFully(STDERR_FILENO, text.data(), text.size());
}

// A modal box waits for the user only when there is one at a terminal; otherwise it
// is acknowledged at once, so that a run with redirected input does not hang.
void waitForAcknowledgement() {
    if (!isatty(STDIN_FILENO)) {
        return;
    }
    toStandardError("[OK] ");
    char c = 0;
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || c == '\n') {
            return;
        }
    }
}

std::string toTerminal(const char* ansi) {
    return ansi ? ansiToUtf8(ansi, ansiCodePage()) : std::string();
}

}  // namespace

ProcessCommandLine commandLine(int argc, const char* const* argv) {
    ProcessCommandLine line;
    int i = 1;
    for (; i < argc && std::string_view(argv[i]) != "--"; ++i) {
        CommandArgument argument;
        argument.expressible = ansiFromUtf8(argv[i], argument.text);
        line.arguments.push_back(std::move(argument));
    }
    if (i < argc) {
        std::vector<std::string> after;
        bool expressible = true;
        for (++i; i < argc; ++i) {
            std::string ansi;
            expressible = ansiFromUtf8(argv[i], ansi) && expressible;
            after.push_back(std::move(ansi));
        }
        line.tail = CommandArgument{joinArguments(after), expressible};
    }
    return line;
}

bool moduleFileName(std::string& path) {
    const std::string host = readLink(kOwnExecutable);
    if (host.empty()) {
        return false;
    }
    return utf8ToAnsi(drivePathText(drivePathOf(host)), ansiCodePage(), path);
}

Resource findResource(const char* name, const char* type) {
    // Keeps the marker's address live, so that no linker option can drop it.
    asm volatile("" : : "r"(launcherMarker));
    if (name == nullptr || type == nullptr) {
        return {};
    }
    const OwnResources& own = ownResources();
    if (!own.valid) {
        return {};
    }
    const ResourceEntry* entry = findResourceEntry(own.table, name, type);
    if (entry == nullptr) {
        return {};
    }
    // One mapping per entry, kept for the life of the process.
    static std::vector<std::pair<const ResourceEntry*, Resource>> mapped;
    for (const auto& [known, resource] : mapped) {
        if (known == entry) {
            return resource;
        }
    }
    const Resource resource = mapResourceEntry(own.fd, *entry);
    if (resource.loaded) {
        mapped.emplace_back(entry, resource);
        noteMappedFile(resource.data, resource.size, own.fd, entry->offset);
    }
    return resource;
}

bool loadString(uint32_t id, std::string& text) {
    switch (id) {
        case AFX_IDS_APP_TITLE:
        case IDR_MAINFRAME:
            text = FERROWICK_TEXT_APP_TITLE;
            return true;
        case AFX_IDS_IDLEMESSAGE:
            text = FERROWICK_TEXT_IDLE;
            return true;
        default:
            return false;
    }
}

void messageBox(const char* text, const char* caption) {
    std::fflush(stdout);
    wipeProgressLine();
    toStandardError(toTerminal(caption) + "\n" + toTerminal(text) + "\n\n");
    waitForAcknowledgement();
    redrawProgressLine();
}

int dialogBox(uint32_t templateId) {
    if (templateId != IDD_ABOUTBOX) {
        return -1;  // as DialogBoxParamA for a template that is not there
    }
    std::fflush(stdout);
    toStandardError(FERROWICK_TEXT_ABOUT_CAPTION "\n" FERROWICK_TEXT_ABOUT_VERSION
                                                 "\n" FERROWICK_TEXT_ABOUT_NOTE
                                                 "\n[" FERROWICK_TEXT_ABOUT_OK "]\n\n");
    waitForAcknowledgement();
    return IDOK;
}

void writeStandardOutput(const char* text) {
    const std::string out = toTerminal(text);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

// Started from a shell, a program prints its usage; there is no box to wait on.
void showUsage(const char* text, const char* /*caption*/) {
    writeStandardOutput(text);
}

uint32_t processorCount() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) {
        return static_cast<uint32_t>(CPU_COUNT(&allowed));
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<uint32_t>(online) : 1;
}

void sleep(uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

uint32_t processId() {
    return static_cast<uint32_t>(getpid());
}

}  // namespace fw::posix
