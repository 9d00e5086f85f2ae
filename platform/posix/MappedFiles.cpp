#include "platform/posix/MappedFiles.h"

#include <sys/sendfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <vector>

namespace fw::posix {

namespace {

struct Mapping {
    std::uintptr_t base = 0;
    std::size_t size = 0;
    FileSpan span;
};

// A process maps a handful of resources at most; never destroyed, as the mappings live on.
// Every write looks here, from whichever thread: the list is read and changed under its
// lock.
struct Mappings {
    std::mutex lock;
    std::vector<Mapping> list;
};

Mappings& mappings() {
    static auto* const instance = new Mappings;
    return *instance;
}

// sendfile() moves at most this much per call.
constexpr std::size_t kMostPerCall = 0x7FFFF000;

}  // namespace

void noteMappedFile(const void* base, std::size_t size, int fd, std::uint64_t offset) {
    if (base != nullptr && size > 0 && fd >= 0) {
        Mappings& m = mappings();
        const std::lock_guard guard(m.lock);
        m.list.push_back({reinterpret_cast<std::uintptr_t>(base), size, {fd, offset}});
    }
}

std::optional<FileSpan> mappedFileSpan(const void* data, std::size_t count) {
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    Mappings& all = mappings();
    const std::lock_guard guard(all.lock);
    for (const Mapping& m : all.list) {
        if (at >= m.base && at - m.base <= m.size && count <= m.size - (at - m.base)) {
            return FileSpan{m.span.fd, m.span.offset + (at - m.base)};
        }
    }
    return std::nullopt;
}

std::size_t copyFileSpan(const FileSpan& span, int out, std::size_t count) {
    // sendfile() takes any output file and any source on any file system; it leaves
    // the source's own position alone.
    auto from = static_cast<off_t>(span.offset);
    std::size_t left = count;
    while (left > 0) {
        const ssize_t n = sendfile(out, span.fd, &from, std::min(left, kMostPerCall));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;  // the source ended early: its mapping would fault there too
            }
            break;
        }
        left -= static_cast<std::size_t>(n);
    }
    return count - left;
}

}  // namespace fw::posix
