// Emptying a folder: each level is opened without following a link and its entries are
// removed relative to it, so that no name is looked up again on the way and a link is
// removed itself. Names are taken as the file system has them, whatever the code page.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/posix/Backend.h"
#include "platform/posix/CodePage.h"
#include "platform/posix/FolderNames.h"
#include "platform/posix/Paths.h"

namespace fw::posix {

namespace {

int openFolderAt(int parent, const char* name) {
    return openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Closes `fd` and keeps errno as it was.
void closeKeepingError(int fd) {
    const int error = errno;
    close(fd);
    errno = error;
}

// The names in the open folder `folder`, "." and ".." left out. Its owner may always
// make it readable and writable for itself first, as a read-only folder is on Windows.
bool namesIn(int folder, std::vector<std::string>& names) {
    struct stat info {};
    if (fstat(folder, &info) != 0 || ((info.st_mode & S_IRWXU) != S_IRWXU &&
                                      fchmod(folder, (info.st_mode & 07777) | S_IRWXU) != 0)) {
        return false;
    }
    const int listed = dup(folder);  // the listing takes this one over
    DIR* listing = listed >= 0 ? fdopendir(listed) : nullptr;
    if (listing == nullptr) {
        if (listed >= 0) {
            closeKeepingError(listed);
        }
        return false;
    }
    errno = 0;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    const int error = errno;
    closedir(listing);
    errno = error;
    return error == 0;
}

// Removes everything in the open folder `folder`, whose host path is `hostPath`; `failed`
// gets the host path of what could not be removed.
bool emptyOpenFolder(int folder, const std::string& hostPath, std::string& failed) {
    std::vector<std::string> names;
    if (!namesIn(folder, names)) {
        failed = hostPath;
        return false;
    }
    for (const std::string& name : names) {
        const std::string entryPath = hostPath + "/" + name;
        struct stat info {};
        if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) {
                continue;  // gone meanwhile
            }
            failed = entryPath;
            return false;
        }
        const bool isFolder = S_ISDIR(info.st_mode);
        if (isFolder) {
            const int inner = openFolderAt(folder, name.c_str());
            if (inner < 0) {
                failed = entryPath;
                return false;
            }
            const bool emptied = emptyOpenFolder(inner, entryPath, failed);
            closeKeepingError(inner);
            if (!emptied) {
                return false;
            }
        }
        // A file's own mode does not matter here: only its folder's does.
        if (unlinkat(folder, name.c_str(), isFolder ? AT_REMOVEDIR : 0) != 0) {
            failed = entryPath;
            return false;
        }
        noteRemoved(entryPath);
    }
    return true;
}

// The drive path of a host path, in the ANSI code page ('?' for what it lacks).
std::string ansiDrivePath(const std::string& hostPath) {
    const std::string utf8 = drivePathText(drivePathOf(hostPath));
    std::string ansi;
    return utf8ToAnsi(utf8, ansiCodePage(), ansi) ? ansi : utf8;
}

}  // namespace

bool emptyFolder(const char* path, std::string& failed) {
    failed = path != nullptr ? path : "";
    HostPath target;
    if (!resolvePath(path, target) || passesThroughLink(target.path, false)) {
        return false;
    }
    struct stat info {};
    if (!target.exists || lstat(target.path.c_str(), &info) != 0) {
        errno = ENOENT;
        return false;
    }
    if (S_ISLNK(info.st_mode)) {
        errno = ELOOP;  // a link in the folder's place
        return false;
    }
    const int folder = openFolderAt(AT_FDCWD, target.path.c_str());
    if (folder < 0) {
        return false;
    }
    std::string failedHost;
    const bool emptied = emptyOpenFolder(folder, target.path, failedHost);
    closeKeepingError(folder);
    if (!emptied) {
        const int error = errno;
        failed = ansiDrivePath(failedHost);
        errno = error;
    }
    return emptied;
}

}  // namespace fw::posix
