#include "platform/posix/FileWrites.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>
#include <thread>

namespace fw::posix {

bool writeFully(int fd, const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, std::min<std::size_t>(count, SSIZE_MAX));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;  // nothing taken: asking again would spin
            }
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

bool writeMapped(int fd, const void* data, const FileSpan& span, std::size_t count) {
    // A large run's space is reserved first, so that a full disk refuses the write before
    // any of it is written. The kernel also copies into reserved space faster.
    struct stat info {};
    const off_t at = count >= kReserveFrom ? lseek(fd, 0, SEEK_CUR) : -1;
    if (at >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        fallocate(fd, 0, at, static_cast<off_t>(count)) != 0 &&
        (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
        const int error = errno;
        if (ftruncate(fd, info.st_size) == 0) {  // what a refused reservation added goes
            lseek(fd, at, SEEK_SET);
        }
        errno = error;
        return false;
    }
    const std::size_t copied = copyFileSpan(span, fd, count);
    if (copied < count && errno == EIO) {
        return false;
    }
    return writeFully(fd, static_cast<const unsigned char*>(data) + copied, count - copied);
}

void closeBehind(int fd) {
    try {
        std::thread([fd] { ::close(fd); }).detach();
    } catch (const std::system_error&) {
        ::close(fd);
    }
}

}  // namespace fw::posix
