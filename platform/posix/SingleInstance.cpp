// One launcher at a time: an exclusive flock on a lock file in a folder that only the
// launcher's user may write, so that nobody else can make the file and hold it first.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/Backend.h"
#include "platform/posix/FolderNames.h"
#include "platform/posix/Paths.h"

namespace fw::posix {

namespace {

struct HeldLock {
    int fd = -1;
    std::string hostPath;
};

HeldLock& heldLock() {
    static auto* const held = new HeldLock;
    return *held;
}

// The file behind `fd` still has the name `hostPath`: a holder that gave the lock up
// removed that name, and whoever locked the old file in between holds nothing.
bool stillNamed(int fd, const std::string& hostPath) {
    struct stat opened {};
    struct stat named {};
    return fstat(fd, &opened) == 0 && lstat(hostPath.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

bool claimSingleInstance(const char* lockFile) {
    HeldLock& held = heldLock();
    HostPath target;
    // A lock that cannot be had for any other reason than another holder lets this
    // launcher go on as it would alone.
    if (!resolvePath(lockFile, target, true) || passesThroughLink(target.path, false)) {
        return true;
    }
    if (held.fd >= 0) {
        if (held.hostPath == target.path) {
            return true;
        }
        releaseSingleInstance();
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd =
            open(target.path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd < 0) {
            return true;
        }
        if (!target.exists) {
            noteCreated(target.path);
        }
        struct stat info {};
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            close(fd);
            return true;
        }
        int locked = 0;
        while ((locked = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            const bool taken = errno == EWOULDBLOCK;
            close(fd);
            return !taken;
        }
        if (stillNamed(fd, target.path)) {
            held = HeldLock{fd, target.path};
            return true;
        }
        close(fd);
    }
    return true;
}

void releaseSingleInstance() {
    HeldLock& held = heldLock();
    if (held.fd < 0) {
        return;
    }
    // Removed while it is still locked, so that a launcher that opens it now finds the
    // name gone once it has the lock, and makes the file anew.
    if (unlink(held.hostPath.c_str()) == 0) {
        noteRemoved(held.hostPath);
    }
    close(held.fd);
    held = HeldLock{};
}

}  // namespace fw::posix
