#include "platform/posix/PrefixSetUp.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/posix/Paths.h"

namespace fw::posix {

namespace {

// Makes `folder` when it is missing; why not, with what to do, or empty when it is a
// folder now.
std::string makeFolder(const std::string& folder, mode_t mode) {
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode) ? std::string()
                                     : "a file stands in its place (move it away, or set "
                                       "FERROWICK_PREFIX to another folder)";
    }
    if (errno == ENOENT && mkdir(folder.c_str(), mode) == 0) {
        return {};
    }
    if (errno == ENOENT) {
        return "the folder it would be in does not exist (make that folder, or set "
               "FERROWICK_PREFIX to another folder)";
    }
    if (errno == ENOTDIR) {
        return "a file stands in the way of its folder (set FERROWICK_PREFIX to another "
               "folder)";
    }
    return std::string(std::strerror(errno)) +
           " (set FERROWICK_PREFIX to a folder you may write in)";
}

}  // namespace

void ensurePrefix() {
    // One attempt per prefix: the second call for the same prefix costs a comparison.
    // Threads resolving paths at once take turns; never destroyed: paths resolve at exit.
    static auto* const lock = new std::mutex;
    static auto* const tried = new std::string;
    static bool triedAny = false;
    const std::lock_guard guard(*lock);
    const std::string prefix = prefixFolder();
    if (triedAny && *tried == prefix) {
        return;
    }
    triedAny = true;
    *tried = prefix;
    const std::string shown = prefix.empty() ? "/" : prefix;
    std::string problem = prefix.empty() ? std::string() : makeFolder(prefix, 0700);
    std::string folder = shown;
    if (problem.empty()) {
        folder = prefix + "/drive_c";
        problem = makeFolder(folder, 0777);
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "ferrowick: cannot make the prefix folder %s: %s\n", folder.c_str(),
                     problem.c_str());
    }
}

}  // namespace fw::posix
