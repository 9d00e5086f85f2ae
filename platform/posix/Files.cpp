#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "platform/posix/Backend.h"
#include "platform/posix/CodePage.h"
#include "platform/posix/FileWrites.h"
#include "platform/posix/FolderNames.h"
#include "platform/posix/MappedFiles.h"
#include "platform/posix/Paths.h"
#include "platform/posix/Time.h"

namespace fw::posix {

namespace {

// Files at least this large are freed on a thread of their own when removed.
constexpr off_t kFreedBehind = 4 * 1024 * 1024;

int toFd(FileHandle file) {
    return file >= 0 && file <= INT_MAX ? static_cast<int>(file) : -1;
}

bool isReadOnly(const struct stat& info) {
    return (info.st_mode & S_IWUSR) == 0;
}

// Checked here rather than left to open(): a process running as root may write to a
// file without write permission, and Windows refuses a read-only file to everyone.
bool refusesReplacement(const HostPath& target, struct stat& info) {
    if (target.driveRoot || target.trailingSeparator) {
        errno = EISDIR;
        return true;
    }
    if (!target.exists) {
        info = {};
        return false;
    }
    info = target.info;
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return true;
    }
    if (isReadOnly(info)) {
        errno = EACCES;
        return true;
    }
    return false;
}

std::int64_t readSome(int fd, void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t got = read(fd, buffer, count < SSIZE_MAX ? count : SSIZE_MAX);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

std::string parentFolder(const std::string& hostPath) {
    const std::size_t slash = hostPath.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : hostPath.substr(0, slash);
}

// A name beside `target` for a copy in progress.
std::string siblingName(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = parentFolder(target);
    return (folder == "/" ? std::string() : folder) + "/.fw-copy-" + std::to_string(getpid()) +
           "-" + std::to_string(counter++);
}

// A new, empty file beside `target` that does not exist yet.
int createSibling(const std::string& target, mode_t mode, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = siblingName(target);
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Gives the unnamed file `fd` its name: `target` itself when nothing is there (`named`
// is then `target`), else a new name beside it in `named`, to be renamed over `target`.
bool nameUnnamedFile(int fd, const HostPath& target, std::string& named) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const auto linkAs = [&](const std::string& name) {
        return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    };
    if (!target.exists) {
        if (linkAs(target.path)) {
            named = target.path;
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = siblingName(target.path);
        if (linkAs(name)) {
            named = name;
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

}  // namespace

uint32_t getFileAttributes(const char* path) {
    HostPath target;
    if (!resolvePath(path, target) || !target.exists) {
        return kInvalidAttributes;
    }
    if (target.trailingSeparator && !S_ISDIR(target.info.st_mode)) {
        return kInvalidAttributes;
    }
    return attributesOf(target.info);
}

bool createDirectory(const char* path) {
    HostPath target;
    if (!resolvePath(path, target)) {
        return false;
    }
    if (target.exists || target.driveRoot) {
        errno = EEXIST;
        return false;
    }
    if (passesThroughLink(target.path, false)) {
        return false;
    }
    if (mkdir(target.path.c_str(), 0777) != 0) {
        return false;
    }
    noteCreated(target.path);
    return true;
}

FileHandle openFile(const char* path) {
    HostPath target;
    if (!resolvePath(path, target) || !target.exists) {
        return kInvalidFile;
    }
    // Not blocking: a FIFO would wait for a writer before it could be refused.
    const int fd = open(target.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return kInvalidFile;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || target.trailingSeparator) {
        close(fd);
        errno = S_ISDIR(info.st_mode) ? EISDIR : EACCES;
        return kInvalidFile;
    }
    return fd;
}

FileHandle createFile(const char* path, uint32_t attributes, bool alsoRead) {
    for (int attempt = 0;; ++attempt) {
        HostPath target;
        struct stat existing {};
        // A name missing a moment ago is no link: one put there meanwhile fails O_EXCL and
        // is looked at again.
        if (!resolvePath(path, target, true) || refusesReplacement(target, existing) ||
            passesThroughLink(target.path, target.exists)) {
            return kInvalidFile;
        }
        if (target.exists && (S_ISFIFO(existing.st_mode) || S_ISSOCK(existing.st_mode))) {
            errno = EACCES;  // opening it for writing would wait for a reader, or write to one
            return kInvalidFile;
        }
        // Rewriting a file with other hard links would change them too: it gets a new file.
        if (target.exists && existing.st_nlink > 1) {
            if (unlink(target.path.c_str()) != 0) {
                return kInvalidFile;
            }
            existing.st_mode = S_IFREG | 0666;
        }
        const bool readOnly = (attributes & kAttrReadOnly) != 0;
        const int flags =
            (alsoRead ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
        // A new read-only file gets no write permission; the descriptor still writes. One
        // found missing must still be missing (its folder's listing may have said so): when
        // something has come in its place meanwhile, it is looked up again, listing and all.
        const int fd = open(target.path.c_str(), target.exists ? flags : flags | O_EXCL,
                            readOnly ? 0444 : 0666);
        if (fd < 0) {
            if (errno == EEXIST && !target.exists && attempt == 0) {
                noteRemoved(target.path);
                continue;
            }
            return kInvalidFile;
        }
        if (!target.exists) {
            noteCreated(target.path);
        }
        if (readOnly && target.exists &&
            fchmod(fd, existing.st_mode & 07777 & ~static_cast<mode_t>(0222)) != 0) {
            close(fd);
            return kInvalidFile;
        }
        return fd;
    }
}

std::int64_t readFile(FileHandle file, void* buffer, std::size_t count) {
    return readSome(toFd(file), buffer, count);
}

std::int64_t readFileAt(FileHandle file, void* buffer, std::size_t count, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
        errno = EINVAL;
        return -1;
    }
    for (;;) {
        const ssize_t got = pread(toFd(file), buffer, count < SSIZE_MAX ? count : SSIZE_MAX,
                                  static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

bool writeFile(FileHandle file, const void* data, std::size_t count) {
    const int fd = toFd(file);
    if (fd < 0) {
        errno = EBADF;
        return false;
    }
    // Bytes that are still in a mapped file (a loaded resource) go file to file.
    const auto span = mappedFileSpan(data, count);
    return span ? writeMapped(fd, data, *span, count) : writeFully(fd, data, count);
}

std::int64_t seekFile(FileHandle file, std::int64_t offset, SeekOrigin origin) {
    const int whence = origin == SeekOrigin::begin     ? SEEK_SET
                       : origin == SeekOrigin::current ? SEEK_CUR
                                                       : SEEK_END;
    return lseek(toFd(file), offset, whence);
}

bool setFileTimes(FileHandle file, const FileTime* /*creation: no POSIX counterpart*/,
                  const FileTime* lastAccess, const FileTime* lastWrite) {
    timespec times[2];
    const FileTime* given[2] = {lastAccess, lastWrite};
    for (int i = 0; i < 2; ++i) {
        if (given[i] == nullptr || given[i]->ticks() == 0) {
            times[i].tv_sec = 0;
            times[i].tv_nsec = UTIME_OMIT;
        } else if (!timespecFromFileTime(*given[i], times[i])) {
            errno = EINVAL;
            return false;
        }
    }
    return futimens(toFd(file), times) == 0;
}

bool closeFile(FileHandle file) {
    const int fd = toFd(file);
    if (fd < 0) {
        errno = EBADF;
        return false;
    }
    // On Linux the descriptor is released even when close() is interrupted.
    return close(fd) == 0 || errno == EINTR;
}

bool removeFile(const char* path) {
    HostPath target;
    struct stat info {};
    if (!resolvePath(path, target) || !target.exists || target.trailingSeparator ||
        passesThroughLink(target.path, false) || lstat(target.path.c_str(), &info) != 0) {
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (S_ISREG(info.st_mode) && isReadOnly(info)) {
        errno = EACCES;
        return false;
    }
    // A large file's storage is freed at its last close, not by unlink(): holding it
    // open lets another thread do that while the caller goes on. The name is gone at once.
    const int held = S_ISREG(info.st_mode) && info.st_size >= kFreedBehind
                         ? open(target.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)
                         : -1;
    if (unlink(target.path.c_str()) != 0) {
        const int error = errno;
        if (held >= 0) {
            close(held);
        }
        errno = error;
        return false;
    }
    if (held >= 0) {
        closeBehind(held);
    }
    noteRemoved(target.path);
    return true;
}

bool copyFile(const char* source, const char* destination) {
    HostPath from;
    HostPath to;
    if (!resolvePath(source, from) || !from.exists || from.trailingSeparator ||
        !resolvePath(destination, to)) {
        return false;
    }
    // A FIFO, a socket or a device is refused at once, as Windows would; not blocking,
    // so that one put in place of the file checked here cannot make the open wait.
    if (!S_ISREG(from.info.st_mode)) {
        errno = S_ISDIR(from.info.st_mode) ? EISDIR : EACCES;
        return false;
    }
    Fd in{open(from.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    struct stat sourceInfo {};
    if (in.fd < 0 || fstat(in.fd, &sourceInfo) != 0) {
        return false;
    }
    if (!S_ISREG(sourceInfo.st_mode)) {
        errno = EACCES;
        return false;
    }
    struct stat existing {};
    if (refusesReplacement(to, existing) || passesThroughLink(to.path, true)) {
        return false;
    }
    if (to.exists && existing.st_dev == sourceInfo.st_dev && existing.st_ino == sourceInfo.st_ino) {
        errno = EBUSY;  // a file copied onto itself, which Windows refuses
        return false;
    }

    // Written to an unnamed file in the destination's folder, which the system drops if
    // the process ends first, and named only when complete: a copy that fails or is cut
    // off half-way leaves the old destination as it was and nothing beside it. A file
    // system without unnamed files gets a named one beside the destination instead.
    std::string temporary;  // the name the copy has so far, when it has one
    Fd out{open(parentFolder(to.path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)};
    const bool unnamed = out.fd >= 0;
    if (!unnamed) {
        out.fd = createSibling(to.path, 0666, temporary);
    }
    if (out.fd < 0) {
        return false;
    }
    const auto fail = [&] {
        const int error = errno;
        if (!temporary.empty()) {
            unlink(temporary.c_str());
        }
        errno = error;
        return false;
    };
    constexpr std::size_t kChunk = 256 * 1024;
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[kChunk]);
    for (;;) {
        const std::int64_t got = readSome(in.fd, buffer.get(), kChunk);
        if (got < 0) {
            return fail();
        }
        if (got == 0) {
            break;
        }
        if (!writeFully(out.fd, buffer.get(), static_cast<std::size_t>(got))) {
            return fail();
        }
    }
    const timespec times[2] = {{0, UTIME_OMIT}, sourceInfo.st_mtim};
    struct stat made {};
    if (futimens(out.fd, times) != 0 || fstat(out.fd, &made) != 0) {
        return fail();
    }
    mode_t mode = to.exists ? existing.st_mode & 07777 : made.st_mode & 07777;
    if (isReadOnly(sourceInfo)) {
        mode &= ~static_cast<mode_t>(0222);
    }
    if (fchmod(out.fd, mode) != 0 || (unnamed && !nameUnnamedFile(out.fd, to, temporary))) {
        return fail();
    }
    const int fd = out.fd;
    out.fd = -1;
    if (close(fd) != 0 && errno != EINTR) {
        return fail();
    }
    if (temporary != to.path && rename(temporary.c_str(), to.path.c_str()) != 0) {
        return fail();
    }
    if (!to.exists) {
        noteCreated(to.path);
    }
    return true;
}

bool appendText(const char* path, const char* text) {
    if (text == nullptr) {
        errno = EINVAL;
        return false;
    }
    for (int attempt = 0;; ++attempt) {
        HostPath target;
        struct stat existing {};
        if (!resolvePath(path, target, true) || refusesReplacement(target, existing) ||
            passesThroughLink(target.path, target.exists)) {
            return false;
        }
        // Only a regular file of one name is written into: a FIFO, socket or device is
        // refused before it is opened, and a second hard link would change with it.
        if (target.exists && (!S_ISREG(existing.st_mode) || existing.st_nlink > 1)) {
            errno = EACCES;
            return false;
        }
        const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
        Fd file{open(target.path.c_str(), target.exists ? flags : flags | O_EXCL, 0666)};
        if (file.fd < 0) {
            // Made by someone else since it was found missing: looked at again.
            if (errno == EEXIST && !target.exists && attempt == 0) {
                noteRemoved(target.path);
                continue;
            }
            return false;
        }
        if (!target.exists) {
            noteCreated(target.path);
        }
        struct stat opened {};
        if (fstat(file.fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_nlink > 1) {
            errno = EACCES;
            return false;
        }
        const std::string utf8 = ansiToUtf8(text, ansiCodePage());
        if (!writeFully(file.fd, utf8.data(), utf8.size())) {
            return false;
        }
        const int fd = file.fd;
        file.fd = -1;
        return close(fd) == 0 || errno == EINTR;
    }
}

}  // namespace fw::posix

namespace fw::posix {

bool setFileAttributes(const char* path, uint32_t attributes) {
    HostPath target;
    if (!resolvePath(path, target) || passesThroughLink(target.path, true)) {
        return false;
    }
    if (!target.exists || (target.trailingSeparator && !S_ISDIR(target.info.st_mode))) {
        errno = ENOENT;
        return false;
    }
    // Read-only is the owner's write permission; the other bits have no host counterpart.
    const mode_t mode = target.info.st_mode & 07777;
    const mode_t wanted =
        (attributes & kAttrReadOnly) != 0 ? mode & ~static_cast<mode_t>(0222) : mode | S_IWUSR;
    return wanted == mode || chmod(target.path.c_str(), wanted) == 0;
}

uint32_t lastError() {
    switch (errno) {
        case ENOENT:
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EEXIST:
            return kErrorAccessDenied;
        case EROFS:
            return kErrorWriteProtect;
        case EBUSY:
        case ETXTBSY:
            return kErrorSharingViolation;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case ELOOP:
            return kErrorCantResolveFilename;
        case ENOEXEC:
            return kErrorBadExeFormat;
        default:
            return errno == 0 ? 0 : kErrorGenFailure;
    }
}

bool errorText(uint32_t error, std::string& text) {
    // The errno of the failure just met, when it is the one `error` stands for; else the
    // first errno here that lastError turns into `error`.
    static constexpr int kMeanings[] = {ENOENT,       EACCES, EROFS, EBUSY,  ENOSPC,
                                        ENAMETOOLONG, ELOOP,  EIO,   ENOEXEC};
    const int saved = errno;
    int meaning = lastError() == error ? saved : 0;
    for (const int candidate : kMeanings) {
        errno = candidate;
        if (meaning == 0 && lastError() == error) {
            meaning = candidate;
        }
    }
    errno = saved;
    return meaning != 0 && utf8ToAnsi(std::strerror(meaning), ansiCodePage(), text);
}

}  // namespace fw::posix
