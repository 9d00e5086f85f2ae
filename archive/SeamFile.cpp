#include "archive/detail/SeamFile.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace fw::archive {

bool SeamFile::open(const char* path) {
    close();
    for (Window& window : windows_) {
        window.bytes.reset(new (std::nothrow) unsigned char[kBufferSize]);
        if (!window.bytes) {
            close();
            return false;
        }
    }
    handle_ = os().openFile(path);
    if (handle_ == kInvalidFile) {
        close();
        return false;
    }
    position_ = shift_ = 0;
    failed_ = false;
    end_ = UINT64_MAX;
    return true;
}

void SeamFile::close() {
    if (handle_ != kInvalidFile) {
        os().closeFile(handle_);
        handle_ = kInvalidFile;
    }
    for (Window& window : windows_) {
        window = Window{};
    }
}

std::int64_t SeamFile::read(void* buffer, std::size_t count) {
    const std::int64_t n = readAt(position_, buffer, count, kBufferSize);
    if (n > 0) {
        position_ += static_cast<std::uint64_t>(n);
    }
    return n;
}

std::int64_t SeamFile::readAt(std::uint64_t at, void* buffer, std::size_t count, std::size_t fill) {
    if (handle_ == kInvalidFile) {
        failed_ = true;
        return -1;
    }
    return readFile(static_cast<unsigned char*>(buffer), count, fileOffset(at),
                    std::min(fill, kBufferSize));
}

// At most one platform read per call, so a short platform read shows as a short read
// here too, as it would on the file itself.
std::int64_t SeamFile::readFile(unsigned char* out, std::size_t count, std::uint64_t at,
                                std::size_t fill) {
    std::size_t done = 0;
    for (std::size_t i = 0; i < kWindows; ++i) {
        const Window& window = windows_[i];
        if (at >= window.start && at - window.start < window.length) {
            const auto offset = static_cast<std::size_t>(at - window.start);
            done = std::min(count, window.length - offset);
            std::memcpy(out, window.bytes.get() + offset, done);
            at += done;
            recent_ = i;
            break;
        }
    }
    if (done == count) {
        return static_cast<std::int64_t>(done);
    }
    const std::size_t want = count - done;
    if (at >= end_) {
        return static_cast<std::int64_t>(done);
    }
    // Windows start at multiples of their size, so that reads going backwards (the
    // search for the end records) cost no more than reads going forwards; a read that
    // would cross into the next multiple, or fills less than a whole window, starts its
    // window itself.
    std::uint64_t start = at - at % kBufferSize;
    if (at - start + want > kBufferSize || fill < kBufferSize) {
        start = at;
    }
    if (want < kBufferSize) {
        recent_ = (recent_ + 1) % kWindows;  // with two, the one used less recently
        Window& window = windows_[recent_];
        window.length = 0;
        const std::int64_t n = readPlatform(window.bytes.get(), std::max(fill, want), start);
        if (n < 0) {
            return -1;
        }
        window.start = start;
        window.length = static_cast<std::size_t>(n);
        const auto offset = static_cast<std::size_t>(at - start);
        if (offset < window.length) {
            const std::size_t more = std::min(want, window.length - offset);
            std::memcpy(out + done, window.bytes.get() + offset, more);
            return static_cast<std::int64_t>(done + more);
        }
        // The window ends before `at`: at the end of the file, which a read there tells.
    }
    const std::int64_t n = readPlatform(out + done, want, at);
    return n < 0 ? -1 : static_cast<std::int64_t>(done) + n;
}

std::int64_t SeamFile::readPlatform(unsigned char* out, std::size_t count, std::uint64_t at) {
    const std::int64_t n = os().readFileAt(handle_, out, count, at);
    if (n < 0) {
        failed_ = true;
        return -1;
    }
    if (n == 0 && count > 0) {
        end_ = std::min(end_, at);
    }
    return n;
}

std::int64_t SeamFile::seek(std::int64_t offset, SeekOrigin origin) {
    std::int64_t to = -1;
    switch (origin) {
        case SeekOrigin::begin:
            to = offset;
            break;
        case SeekOrigin::current:
            to = static_cast<std::int64_t>(position_) + offset;
            break;
        case SeekOrigin::end: {
            if (handle_ == kInvalidFile) {
                break;
            }
            const std::int64_t at = os().seekFile(handle_, offset, SeekOrigin::end);
            if (at >= 0) {
                to = at - static_cast<std::int64_t>(shift_);
            }
            break;
        }
    }
    if (to < 0 || handle_ == kInvalidFile) {
        failed_ = true;
        return -1;
    }
    position_ = static_cast<std::uint64_t>(to);
    return to;
}

namespace {

SeamFile& self(voidpf opaque) {
    return *static_cast<SeamFile*>(opaque);
}

// The reader opens the file itself, to find where the archive starts, before minizip.
voidpf ZCALLBACK openCallback(voidpf opaque, const void* path, int /*mode*/) {
    SeamFile& file = self(opaque);
    return file.isOpen() || file.open(static_cast<const char*>(path)) ? opaque : nullptr;
}

uLong ZCALLBACK readCallback(voidpf opaque, voidpf /*stream*/, void* buffer, uLong size) {
    const std::int64_t n = self(opaque).read(buffer, size);
    return n < 0 ? 0 : static_cast<uLong>(n);
}

uLong ZCALLBACK writeCallback(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ZCALLBACK tellCallback(voidpf opaque, voidpf /*stream*/) {
    return self(opaque).tell();
}

long ZCALLBACK seekCallback(voidpf opaque, voidpf /*stream*/, ZPOS64_T offset, int origin) {
    SeekOrigin from = SeekOrigin::begin;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
        from = SeekOrigin::current;
    } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
        from = SeekOrigin::end;
    }
    return self(opaque).seek(static_cast<std::int64_t>(offset), from) < 0 ? -1 : 0;
}

int ZCALLBACK closeCallback(voidpf opaque, voidpf /*stream*/) {
    self(opaque).close();
    return 0;
}

int ZCALLBACK errorCallback(voidpf opaque, voidpf /*stream*/) {
    return self(opaque).failed() ? 1 : 0;
}

}  // namespace

zlib_filefunc64_def SeamFile::functions() {
    zlib_filefunc64_def table{};
    table.zopen64_file = openCallback;
    table.zread_file = readCallback;
    table.zwrite_file = writeCallback;
    table.ztell64_file = tellCallback;
    table.zseek64_file = seekCallback;
    table.zclose_file = closeCallback;
    table.zerror_file = errorCallback;
    table.opaque = this;
    return table;
}

}  // namespace fw::archive
