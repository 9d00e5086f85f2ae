#include "platform/posix/ReadAhead.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_map>

#include "platform/posix/BackgroundCopy.h"

namespace fw::posix::readAhead {

namespace {

struct Reader {
    std::uint64_t position = 0;        // where the next read starts
    std::uint64_t sequentialFrom = 0;  // where the last read ended
    std::uint64_t windowStart = 0;
    std::size_t windowLength = 0;
    std::unique_ptr<unsigned char[]> window;  // made at the first read in sequence
    std::optional<struct stat> copied;        // the file, while a copy into it may run
};

struct Readers {
    std::mutex lock;
    std::unordered_map<int, Reader> byFd;  // element references survive rehashing
};

// Never destroyed: handles may still be closed by destructors at exit.
Readers& readers() {
    static Readers* const instance = new Readers;
    return *instance;
}

Reader* find(int fd) {
    Readers& all = readers();
    const std::lock_guard guard(all.lock);
    const auto it = all.byFd.find(fd);
    return it == all.byFd.end() ? nullptr : &it->second;
}

ssize_t readAt(Reader& r, int fd, void* buffer, std::size_t count, std::uint64_t at) {
    if (at > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return 0;  // past any end a file can have
    }
    if (r.copied) {
        if (!backgroundCopy::await(*r.copied, at, at + count)) {
            return -1;
        }
        if (!backgroundCopy::copying(*r.copied)) {
            r.copied.reset();  // done: no more waiting
        }
    }
    for (;;) {
        const ssize_t got =
            pread(fd, buffer, std::min<std::size_t>(count, SSIZE_MAX), static_cast<off_t>(at));
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

}  // namespace

void open(int fd, bool copying) {
    Reader reader;
    if (copying) {
        reader.copied.emplace();
        if (fstat(fd, &*reader.copied) != 0) {
            reader.copied.reset();
        }
    }
    Readers& all = readers();
    const std::lock_guard guard(all.lock);
    all.byFd[fd] = std::move(reader);
}

void forget(int fd) {
    Readers& all = readers();
    const std::lock_guard guard(all.lock);
    all.byFd.erase(fd);
}

bool read(int fd, void* buffer, std::size_t count, std::int64_t& result) {
    Reader* const reader = find(fd);
    if (reader == nullptr) {
        return false;
    }
    Reader& r = *reader;
    auto* out = static_cast<unsigned char*>(buffer);
    count = std::min<std::size_t>(count, std::numeric_limits<std::int64_t>::max());
    std::size_t done = 0;
    while (done < count) {
        const std::uint64_t at = r.position;
        if (at >= r.windowStart && at - r.windowStart < r.windowLength) {
            const auto offset = static_cast<std::size_t>(at - r.windowStart);
            const std::size_t n = std::min(count - done, r.windowLength - offset);
            std::memcpy(out + done, r.window.get() + offset, n);
            done += n;
            r.position = r.sequentialFrom = at + n;
            continue;
        }
        const std::size_t want = count - done;
        const bool inSequence = at == r.sequentialFrom && want < kWindowSize;
        if (inSequence && !r.window) {
            r.window.reset(new (std::nothrow) unsigned char[kWindowSize]);
        }
        if (!inSequence || !r.window) {
            // A jump, or a read as large as the window: exactly what is asked.
            const ssize_t got = readAt(r, fd, out + done, want, at);
            if (got < 0) {
                result = done > 0 ? static_cast<std::int64_t>(done) : -1;
                return true;
            }
            done += static_cast<std::size_t>(got);
            r.position = r.sequentialFrom = at + static_cast<std::uint64_t>(got);
            if (got == 0) {
                break;
            }
            continue;
        }
        const ssize_t got = readAt(r, fd, r.window.get(), kWindowSize, at);
        if (got <= 0) {
            if (got < 0 && done == 0) {
                result = -1;
                return true;
            }
            break;
        }
        r.windowStart = at;
        r.windowLength = static_cast<std::size_t>(got);
    }
    result = static_cast<std::int64_t>(done);
    return true;
}

bool seek(int fd, std::int64_t offset, int whence, std::int64_t& result) {
    Reader* const reader = find(fd);
    if (reader == nullptr) {
        return false;
    }
    std::int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<std::int64_t>(reader->position);
    } else if (whence == SEEK_END) {
        struct stat info {};
        if (fstat(fd, &info) != 0) {
            result = -1;
            return true;
        }
        base = info.st_size;
    }
    if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) ||
        base + offset < 0) {
        errno = EINVAL;
        result = -1;
        return true;
    }
    result = base + offset;
    reader->position = static_cast<std::uint64_t>(result);
    return true;
}

}  // namespace fw::posix::readAhead
