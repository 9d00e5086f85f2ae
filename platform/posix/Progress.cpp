// Progress as a program at a terminal shows it: one line on standard error that draws
// itself over again as the work comes on, and is wiped when it ends, so that what stays
// on the terminal is what would be there without it. Nothing when standard error is no
// terminal (a file or a pipe would keep every drawing). The caption is for a window's
// title bar; the line has no room for it.
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/ProgressText.h"
#include "platform/posix/Backend.h"
#include "platform/posix/CodePage.h"
#include "platform/posix/FileWrites.h"
#include "platform/posix/Progress.h"

namespace fw::posix {

namespace {

// Drawn at most this often, and once more when the last item is done.
constexpr std::int64_t kRedrawNanoseconds = 100'000'000;
constexpr std::size_t kBarWidth = 20;

struct ProgressLine {
    bool shown = false;
    std::string what;  // UTF-8
    Progress total;
    Progress done;
    std::int64_t drawnAt = 0;
    std::size_t width = 0;  // of the longest drawing, which a shorter one must cover
};

ProgressLine line;

std::int64_t monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Writes `text` from the start of the line, over whatever was drawn there.
void writeOver(const std::string& text) {
    std::string out = "\r" + text;
    if (text.size() < line.width) {
        out.append(line.width - text.size(), ' ');
    }
    line.width = std::max(line.width, text.size());
    std::fflush(stdout);
    writeFully(STDERR_FILENO, out.data(), out.size());
}

// The terminal's width: a line that wraps could no longer be drawn over.
std::size_t terminalColumns() {
    winsize size{};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

void draw() {
    const std::string counts = progressBar(progressPermille(line.done, line.total), kBarWidth) +
                               " " + progressCounts(line.done, line.total);
    std::string text = line.what + " " + counts;
    // The words go first when there is no room, then whatever does not fit.
    const std::size_t room = terminalColumns() - 1;
    if (text.size() > room) {
        text = counts.substr(0, room);
    }
    writeOver(text);
    line.drawnAt = monotonicNanoseconds();
}

}  // namespace

void wipeProgressLine() {
    if (line.shown) {
        writeOver({});
        writeFully(STDERR_FILENO, "\r", 1);
        line.width = 0;
    }
}

void redrawProgressLine() {
    if (line.shown) {
        draw();
    }
}

void progressBegin(const char* /*caption*/, const char* what, const Progress& total) {
    line = ProgressLine{};
    if (isatty(STDERR_FILENO) == 0) {
        return;
    }
    line.shown = true;
    line.what = what != nullptr ? ansiToUtf8(what, ansiCodePage()) : std::string();
    line.total = total;
    draw();
}

void progressUpdate(const Progress& done) {
    if (!line.shown) {
        return;
    }
    line.done = done;
    if (done.items >= line.total.items ||
        monotonicNanoseconds() - line.drawnAt >= kRedrawNanoseconds) {
        draw();
    }
}

void progressEnd() {
    wipeProgressLine();
    line = ProgressLine{};
}

}  // namespace fw::posix
