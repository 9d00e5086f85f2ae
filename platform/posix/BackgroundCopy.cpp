#include "platform/posix/BackgroundCopy.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/posix/ThreadRecord.h"

namespace fw::posix::backgroundCopy {

namespace {

// Readers are told of progress after each piece.
constexpr std::size_t kPiece = 4 * 1024 * 1024;

struct Copy {
    std::mutex lock;
    std::condition_variable progressed;
    std::atomic<bool> keyed{false};  // a copy was started and its file may be waited for
    std::atomic<int> starter{-1};    // the handle that started it, while open
    dev_t device = 0;
    ino_t inode = 0;
    std::uint64_t begin = 0;  // the file's bytes [begin, end) are copied
    std::uint64_t end = 0;
    std::uint64_t tailFrom = 0;   // [tailFrom, end) is copied first,
    bool tailDone = false;        // and is in place,
    std::uint64_t frontDone = 0;  // then [begin, frontDone), up to tailFrom
    bool running = false;
    bool complete = false;
    int error = 0;
};

// The copying thread reports to it until it ends; what was written before exit() lands.
Copy& copy() {
    return threadRecord<Copy, finish>();
}

bool isKey(const Copy& c, const struct stat& info) {
    return c.device == info.st_dev && c.inode == info.st_ino;
}

bool placed(const Copy& c, std::uint64_t from, std::uint64_t to) {
    from = std::max(from, c.begin);
    to = std::min(to, c.end);
    return c.complete || from >= to || to <= c.frontDone || (c.tailDone && from >= c.tailFrom);
}

// Copies the file's bytes [from, to) from `span` (which holds [begin, end)) through
// `out`, telling readers of each piece.
bool copyRange(Copy& c, int out, const FileSpan& span, std::uint64_t from, std::uint64_t to,
               bool front) {
    if (lseek(out, static_cast<off_t>(from), SEEK_SET) < 0) {
        return false;
    }
    while (from < to) {
        const std::size_t piece = std::min<std::uint64_t>(to - from, kPiece);
        errno = 0;
        if (copyFileSpan({span.fd, span.offset + (from - c.begin)}, out, piece) != piece) {
            if (errno == 0) {
                errno = EIO;  // the source ended early
            }
            return false;
        }
        from += piece;
        if (front) {
            const std::lock_guard guard(c.lock);
            c.frontDone = from;
            c.progressed.notify_all();
        }
    }
    return true;
}

void run(Copy& c, int out, FileSpan span) {
    pthread_setname_np(pthread_self(), "copy-behind");  // for profilers and ps
    bool copied = copyRange(c, out, span, c.tailFrom, c.end, false);
    if (copied) {
        const std::lock_guard guard(c.lock);
        c.tailDone = true;
        c.progressed.notify_all();
    }
    copied = copied && copyRange(c, out, span, c.begin, c.tailFrom, true);
    const int error = errno;
    close(out);
    const std::lock_guard guard(c.lock);
    c.running = false;
    c.complete = copied;
    c.error = copied ? 0 : (error != 0 ? error : EIO);
    c.progressed.notify_all();
}

}  // namespace

Start start(int fd, const FileSpan& span, std::size_t count) {
    if (count < kLeast) {
        return Start::notStarted;  // a small write pays for none of what follows
    }
    finish();  // one at a time
    struct stat info {};
    const off_t at = lseek(fd, 0, SEEK_CUR);
    const int flags = fcntl(fd, F_GETFL);
    if (at < 0 || flags < 0 || (flags & O_APPEND) != 0 || fstat(fd, &info) != 0 ||
        !S_ISREG(info.st_mode)) {
        return Start::notStarted;
    }
    // A description of its own, so that the copy's position is not the caller's.
    const int out = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY | O_CLOEXEC);
    if (out < 0) {
        return Start::notStarted;
    }
    const auto abandon = [&](Start outcome) {
        const int error = errno;
        close(out);
        if (ftruncate(fd, info.st_size) == 0) {  // what a refused reservation added goes
            lseek(fd, at, SEEK_SET);
        }
        errno = error;
        return outcome;
    };
    if (fallocate(fd, 0, at, static_cast<off_t>(count)) != 0) {
        const bool full = errno == ENOSPC || errno == EDQUOT || errno == EFBIG;
        return abandon(full ? Start::failed : Start::notStarted);
    }
    if (lseek(fd, at + static_cast<off_t>(count), SEEK_SET) < 0) {
        return abandon(Start::notStarted);
    }
    Copy& c = copy();
    {
        const std::lock_guard guard(c.lock);
        c.device = info.st_dev;
        c.inode = info.st_ino;
        c.begin = c.frontDone = static_cast<std::uint64_t>(at);
        c.end = c.begin + count;
        c.tailFrom = c.end - std::min(count, kTail);
        c.tailDone = c.complete = false;
        c.error = 0;
        c.running = true;
        c.keyed = true;
        c.starter = fd;
    }
    try {
        std::thread(run, std::ref(c), out, span).detach();
    } catch (const std::system_error&) {
        {
            const std::lock_guard guard(c.lock);
            c.running = false;
            c.complete = true;
        }
        lseek(fd, at, SEEK_SET);  // the caller writes the bytes into the reserved space
        close(out);
        return Start::notStarted;
    }
    return Start::started;
}

bool copying(const struct stat& info) {
    Copy& c = copy();
    if (!c.keyed) {
        return false;
    }
    const std::lock_guard guard(c.lock);
    return isKey(c, info) && !c.complete;
}

bool await(const struct stat& info, std::uint64_t from, std::uint64_t to) {
    Copy& c = copy();
    if (!c.keyed) {
        return true;
    }
    std::unique_lock guard(c.lock);
    if (!isKey(c, info)) {
        return true;
    }
    c.progressed.wait(guard, [&] { return placed(c, from, to) || !c.running; });
    if (placed(c, from, to)) {
        return true;
    }
    errno = c.error;
    return false;
}

void finish() {
    Copy& c = copy();
    if (!c.keyed) {
        return;
    }
    std::unique_lock guard(c.lock);
    c.progressed.wait(guard, [&] { return !c.running; });
}

void finishFor(const struct stat& info) {
    if (copying(info)) {
        finish();
    }
}

void finishForHandle(int fd) {
    if (fd >= 0 && copy().starter == fd) {
        finish();
    }
}

void forgetHandle(int fd) {
    int expected = fd;
    copy().starter.compare_exchange_strong(expected, -1);
}

}  // namespace fw::posix::backgroundCopy
