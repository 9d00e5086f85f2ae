#include "platform/posix/FolderNames.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/posix/PosixPaths.h"

namespace fw::posix {

namespace {

struct FoldedHash {
    std::size_t operator()(std::string_view name) const {
        std::uint64_t h = 14695981039346656037ull;
        for (char c : name) {
            const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            h = (h ^ static_cast<unsigned char>(lower)) * 1099511628211ull;
        }
        return static_cast<std::size_t>(h);
    }
};

struct FoldedEqual {
    bool operator()(std::string_view a, std::string_view b) const {
        return equalsIgnoringCase(a, b);
    }
};

// One name per letter-case class: the first one listed.
using NameSet = std::unordered_set<std::string, FoldedHash, FoldedEqual>;

struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};

    bool operator==(const Stamp& other) const {
        return device == other.device && inode == other.inode &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

struct Listing {
    Stamp stamp;
    NameSet names;
    std::uint64_t lastUse = 0;
};

struct Cache {
    std::mutex lock;
    std::unordered_map<std::string, Listing> folders;
    std::size_t names = 0;
    std::uint64_t clock = 0;
    std::string validated;  // the folder whose stamp the last lookup checked
};

// Never destroyed: the application object's destructor still looks up paths at exit,
// after function-local statics made later than it are gone.
Cache& cache() {
    static Cache* const instance = new Cache;
    return *instance;
}

const char* hostFolder(const std::string& folder) {
    return folder.empty() ? "/" : folder.c_str();
}

bool stampOf(const std::string& folder, Stamp& stamp, const struct stat* known = nullptr) {
    struct stat info {};
    if (known != nullptr) {
        info = *known;
    } else if (stat(hostFolder(folder), &info) != 0) {
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    stamp = Stamp{info.st_dev, info.st_ino, info.st_mtim};
    return true;
}

// Lists `folder` into `listing`; false when it cannot be read to its end.
bool list(const std::string& folder, Listing& listing) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(hostFolder(folder)), closedir);
    if (!dir) {
        return false;
    }
    while (const dirent* entry = readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        listing.names.emplace(entry->d_name);
    }
    return true;
}

void forget(Cache& c, std::unordered_map<std::string, Listing>::iterator it) {
    c.names -= it->second.names.size();
    c.folders.erase(it);
}

// Makes room for a listing of `count` names by dropping the least recently used ones.
void makeRoom(Cache& c, std::size_t count) {
    while (!c.folders.empty() &&
           (c.folders.size() >= kCachedFolders || c.names + count > kCachedNames)) {
        auto oldest = c.folders.begin();
        for (auto it = c.folders.begin(); it != c.folders.end(); ++it) {
            if (it->second.lastUse < oldest->second.lastUse) {
                oldest = it;
            }
        }
        forget(c, oldest);
    }
}

// Splits a host path into its folder and its last name.
bool split(const std::string& hostPath, std::string& folder, std::string& name) {
    const std::size_t slash = hostPath.rfind('/');
    if (slash == std::string::npos || slash + 1 == hostPath.size()) {
        return false;
    }
    folder = hostPath.substr(0, slash);
    name = hostPath.substr(slash + 1);
    return true;
}

}  // namespace

bool findIgnoringCase(const std::string& folder, const std::string& name, std::string& found,
                      const struct stat* folderInfo) {
    Stamp stamp;
    if (!stampOf(folder, stamp, folderInfo)) {
        return false;
    }
    Cache& c = cache();
    const std::lock_guard<std::mutex> guard(c.lock);
    auto it = c.folders.find(folder);
    if (it != c.folders.end() && !(it->second.stamp == stamp)) {
        forget(c, it);
        it = c.folders.end();
    }
    if (it == c.folders.end()) {
        // The stamp was taken before the listing: a change made while listing shows as a
        // different stamp next time.
        Listing listing;
        listing.stamp = stamp;
        if (!list(folder, listing)) {
            return false;
        }
        if (listing.names.size() > kCachedNames) {
            const auto match = listing.names.find(name);
            if (match == listing.names.end()) {
                return false;
            }
            found = *match;
            return true;
        }
        makeRoom(c, listing.names.size());
        c.names += listing.names.size();
        it = c.folders.emplace(folder, std::move(listing)).first;
    }
    it->second.lastUse = ++c.clock;
    c.validated = folder;
    const auto match = it->second.names.find(name);
    if (match == it->second.names.end()) {
        return false;
    }
    found = *match;
    return true;
}

void noteCreated(const std::string& hostPath) {
    std::string folder;
    std::string name;
    if (!split(hostPath, folder, name)) {
        return;
    }
    Cache& c = cache();
    const std::lock_guard<std::mutex> guard(c.lock);
    const auto it = c.folders.find(folder);
    if (it == c.folders.end()) {
        return;
    }
    // The listing is carried over our change only when the lookup just before it found
    // the folder unchanged; else a change by someone else could hide behind ours.
    Listing& listing = it->second;
    Stamp now;
    if (c.validated != folder || !stampOf(folder, now) || now.device != listing.stamp.device ||
        now.inode != listing.stamp.inode || listing.names.find(name) != listing.names.end() ||
        c.names + 1 > kCachedNames) {
        forget(c, it);
        return;
    }
    listing.names.insert(name);
    ++c.names;
    listing.stamp = now;
}

void noteRemoved(const std::string& hostPath) {
    std::string folder;
    std::string name;
    if (!split(hostPath, folder, name)) {
        return;
    }
    Cache& c = cache();
    const std::lock_guard<std::mutex> guard(c.lock);
    // Rare (a clean-up, a failed copy): the next lookup lists the folder again.
    if (const auto it = c.folders.find(folder); it != c.folders.end()) {
        forget(c, it);
    }
}

}  // namespace fw::posix
