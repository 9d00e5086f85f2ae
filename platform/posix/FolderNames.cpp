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
#include <vector>

#include "platform/posix/Paths.h"

namespace fw::posix {

namespace {

std::size_t foldedHash(std::string_view name) {
    std::uint64_t h = 14695981039346656037ull;
    for (char c : name) {
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        h = (h ^ static_cast<unsigned char>(lower)) * 1099511628211ull;
    }
    return static_cast<std::size_t>(h);
}

// The names of one folder, one per letter-case class (the first one listed): their bytes
// in one block, each ended by a NUL (which no host name holds), and an open-addressed
// table of where each begins. A folder of n names costs its names' bytes and 16 to 32
// bytes more per name, whatever n is.
class NameIndex {
  public:
    std::size_t size() const { return count_; }

    // The kept name equal to `name` but for ASCII letter case, or null.
    const char* find(std::string_view name) const {
        if (slots_.empty()) {
            return nullptr;
        }
        for (std::size_t i = foldedHash(name) & mask();; i = (i + 1) & mask()) {
            if (slots_[i] == kEmpty) {
                return nullptr;
            }
            const char* kept = bytes_.data() + slots_[i];
            if (equalsIgnoringCase(kept, name)) {
                return kept;
            }
        }
    }

    // Keeps `name` unless a name equal but for letter case is kept already.
    void insert(std::string_view name) {
        if (find(name) != nullptr) {
            return;
        }
        if (2 * (count_ + 1) > slots_.size()) {
            grow();
        }
        slots_[freeSlot(name)] = bytes_.size();
        bytes_.append(name);
        bytes_ += '\0';
        ++count_;
    }

  private:
    static constexpr std::size_t kEmpty = SIZE_MAX;

    std::size_t mask() const { return slots_.size() - 1; }

    std::size_t freeSlot(std::string_view name) const {
        std::size_t i = foldedHash(name) & mask();
        while (slots_[i] != kEmpty) {
            i = (i + 1) & mask();
        }
        return i;
    }

    void grow() {
        std::vector<std::size_t> old(slots_.size() < 8 ? 16 : 2 * slots_.size(), kEmpty);
        old.swap(slots_);
        for (const std::size_t offset : old) {
            if (offset != kEmpty) {
                slots_[freeSlot(bytes_.data() + offset)] = offset;
            }
        }
    }

    std::string bytes_;
    std::vector<std::size_t> slots_;
    std::size_t count_ = 0;
};

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
    NameIndex names;
    std::uint64_t lastUse = 0;
    // More names than the budget of all the others: kept apart, one at a time, so that
    // neither it nor they are dropped to make room for each other.
    bool oversized = false;
};

using Folders = std::unordered_map<std::string, Listing>;

struct Cache {
    std::mutex lock;
    Folders folders;
    std::size_t names = 0;
    std::uint64_t clock = 0;
    std::string validated;  // the folder whose stamp the last lookup checked
    std::uint64_t listings = 0;
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
bool list(Cache& c, const std::string& folder, Listing& listing) {
    ++c.listings;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(hostFolder(folder)), closedir);
    if (!dir) {
        return false;
    }
    while (const dirent* entry = readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        listing.names.insert(entry->d_name);
    }
    return true;
}

void forget(Cache& c, Folders::iterator it) {
    if (!it->second.oversized) {
        c.names -= it->second.names.size();
    }
    c.folders.erase(it);
}

// Drops the least recently used listing that is not oversized; false when there is none.
bool forgetOldest(Cache& c) {
    auto oldest = c.folders.end();
    for (auto it = c.folders.begin(); it != c.folders.end(); ++it) {
        if (!it->second.oversized &&
            (oldest == c.folders.end() || it->second.lastUse < oldest->second.lastUse)) {
            oldest = it;
        }
    }
    if (oldest == c.folders.end()) {
        return false;
    }
    forget(c, oldest);
    return true;
}

// Makes `it` the one oversized listing, in place of an earlier one.
void makeOversized(Cache& c, Folders::iterator it) {
    for (auto other = c.folders.begin(); other != c.folders.end(); ++other) {
        if (other != it && other->second.oversized) {
            c.folders.erase(other);
            break;
        }
    }
    if (!it->second.oversized) {
        c.names -= it->second.names.size();
        it->second.oversized = true;
    }
}

// Keeps the new listing of `folder`, dropping the least recently used ones to stay
// within the budgets of folders and names.
Folders::iterator keep(Cache& c, const std::string& folder, Listing listing) {
    const std::size_t count = listing.names.size();
    const bool oversized = count > kCachedNames;
    while ((c.folders.size() >= kCachedFolders || (!oversized && c.names + count > kCachedNames)) &&
           forgetOldest(c)) {
    }
    c.names += count;
    const auto it = c.folders.insert_or_assign(folder, std::move(listing)).first;
    if (oversized) {
        makeOversized(c, it);
    }
    return it;
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
        if (!list(c, folder, listing)) {
            return false;
        }
        it = keep(c, folder, std::move(listing));
    }
    it->second.lastUse = ++c.clock;
    c.validated = folder;
    const char* match = it->second.names.find(name);
    if (match == nullptr) {
        return false;
    }
    found = match;
    return true;
}

bool mayBeAbsent(const std::string& folder, const std::string& name) {
    Cache& c = cache();
    const std::lock_guard<std::mutex> guard(c.lock);
    const auto it = c.folders.find(folder);
    return it != c.folders.end() && it->second.names.find(name) == nullptr;
}

bool knownAbsent(const std::string& folder, const std::string& name,
                 const struct stat& folderInfo) {
    Stamp stamp;
    if (!stampOf(folder, stamp, &folderInfo)) {
        return false;
    }
    Cache& c = cache();
    const std::lock_guard<std::mutex> guard(c.lock);
    const auto it = c.folders.find(folder);
    if (it == c.folders.end() || !(it->second.stamp == stamp) ||
        it->second.names.find(name) != nullptr) {
        return false;
    }
    it->second.lastUse = ++c.clock;
    c.validated = folder;
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
        now.inode != listing.stamp.inode || listing.names.find(name) != nullptr) {
        forget(c, it);
        return;
    }
    listing.names.insert(name);
    listing.stamp = now;
    listing.lastUse = ++c.clock;
    if (listing.oversized) {
        return;
    }
    ++c.names;
    // The folder being filled stays, whatever its size; older ones make room.
    if (listing.names.size() > kCachedNames) {
        makeOversized(c, it);
    }
    while (c.names > kCachedNames && forgetOldest(c)) {
    }
}

std::uint64_t folderListings() {
    Cache& c = cache();
    const std::lock_guard<std::mutex> guard(c.lock);
    return c.listings;
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
