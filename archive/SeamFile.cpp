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
    position_ = physical_ = 0;
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

bool SeamFile::physicalSeek(std::uint64_t to) {
    if (physical_ == to) {
        return true;
    }
    const std::int64_t at =
        os().seekFile(handle_, static_cast<std::int64_t>(to), SeekOrigin::begin);
    if (at < 0) {
        return false;
    }
    physical_ = static_cast<std::uint64_t>(at);
    return physical_ == to;
}

// At most one platform read per call, so a short platform read shows as a short read
// here too, as it would on the file itself.
std::int64_t SeamFile::read(void* buffer, std::size_t count) {
    if (handle_ == kInvalidFile) {
        failed_ = true;
        return -1;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    for (int i = 0; i < 2; ++i) {
        const Window& window = windows_[i];
        if (position_ >= window.start && position_ - window.start < window.length) {
            const auto offset = static_cast<std::size_t>(position_ - window.start);
            done = std::min(count, window.length - offset);
            std::memcpy(out, window.bytes.get() + offset, done);
            position_ += done;
            recent_ = i;
            break;
        }
    }
    if (done == count) {
        return static_cast<std::int64_t>(done);
    }
    const std::size_t want = count - done;
    if (position_ >= end_) {
        return static_cast<std::int64_t>(done);
    }
    if (!physicalSeek(position_)) {
        failed_ = true;
        return -1;
    }
    if (want >= kBufferSize) {
        const std::int64_t n = os().readFile(handle_, out + done, want);
        if (n < 0) {
            failed_ = true;
            return -1;
        }
        if (n == 0) {
            end_ = position_;
        }
        physical_ += static_cast<std::uint64_t>(n);
        position_ += static_cast<std::uint64_t>(n);
        return static_cast<std::int64_t>(done) + n;
    }
    recent_ = 1 - recent_;  // the one used less recently is refilled
    Window& window = windows_[recent_];
    const std::int64_t n = os().readFile(handle_, window.bytes.get(), kBufferSize);
    if (n < 0) {
        failed_ = true;
        window.length = 0;
        return -1;
    }
    if (n == 0) {
        end_ = position_;
    }
    physical_ += static_cast<std::uint64_t>(n);
    window.start = position_;
    window.length = static_cast<std::size_t>(n);
    const std::size_t more = std::min(want, window.length);
    std::memcpy(out + done, window.bytes.get(), more);
    position_ += more;
    return static_cast<std::int64_t>(done + more);
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
                physical_ = static_cast<std::uint64_t>(at);
            }
            to = at;
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

voidpf ZCALLBACK openCallback(voidpf opaque, const void* path, int /*mode*/) {
    return self(opaque).open(static_cast<const char*>(path)) ? opaque : nullptr;
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
