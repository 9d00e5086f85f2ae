// Folders that belong to the launcher: made with a mode that lets no one else in, or
// judged by owner and mode when they are there already.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/FolderSafety.h"
#include "platform/posix/Backend.h"
#include "platform/posix/FolderNames.h"
#include "platform/posix/Paths.h"

namespace fw::posix {

namespace {

struct Folder {
    int fd = -1;
    ~Folder() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

// The folder itself, never a link in its place.
int openFolder(const std::string& hostPath) {
    return open(hostPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace

FolderVerdict makeOwnFolder(const char* path, bool everyoneReads) {
    const mode_t wanted = everyoneReads ? 0755 : 0700;
    // A second look only when another process made it between the lookup and mkdir.
    for (int attempt = 0;; ++attempt) {
        HostPath target;
        if (!resolvePath(path, target) || passesThroughLink(target.path, false)) {
            return FolderVerdict::failed;
        }
        if (target.driveRoot) {
            errno = EEXIST;
            return FolderVerdict::occupied;
        }
        if (!target.exists) {
            if (mkdir(target.path.c_str(), wanted) == 0) {
                noteCreated(target.path);
                // Exactly `wanted`, whatever the process's umask took away.
                const Folder made{openFolder(target.path)};
                return made.fd >= 0 && fchmod(made.fd, wanted) == 0 ? FolderVerdict::made
                                                                    : FolderVerdict::failed;
            }
            if (errno != EEXIST || attempt > 0) {
                return FolderVerdict::failed;
            }
            noteRemoved(target.path);  // the kept listing said it was missing
            continue;
        }
        const Folder folder{openFolder(target.path)};
        struct stat info {};
        if (folder.fd < 0) {
            return errno == ELOOP || errno == ENOTDIR ? FolderVerdict::occupied
                                                      : FolderVerdict::failed;
        }
        if (fstat(folder.fd, &info) != 0) {
            return FolderVerdict::failed;
        }
        const FolderSafety safety =
            judgeFolderMode(info.st_uid, info.st_mode & 07777, geteuid(), wanted);
        return verdictOn(safety,
                         safety == FolderSafety::ownButOpen && fchmod(folder.fd, wanted) == 0);
    }
}

}  // namespace fw::posix
