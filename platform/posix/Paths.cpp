#include "platform/posix/Paths.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "platform/posix/Backend.h"
#include "platform/posix/CodePage.h"
#include "platform/posix/FolderNames.h"
#include "platform/posix/PrefixSetUp.h"

namespace fw::posix {

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// Characters Windows refuses in names (':' past the drive would name a stream).
bool isForbiddenInName(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == '*' || c == '?' || c == '<' || c == '>' ||
           c == '|' || c == '"' || c == ':';
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool exists(const std::string& hostPath) {
    struct stat info {};
    return lstat(hostPath.c_str(), &info) == 0;
}

// Like exists(), and tells what the entry is.
bool lookUp(const std::string& hostPath, struct stat& info) {
    if (lstat(hostPath.c_str(), &info) != 0) {
        return false;
    }
    struct stat target {};
    if (S_ISLNK(info.st_mode) && stat(hostPath.c_str(), &target) == 0) {
        info = target;
    }
    return true;
}

// The prefix folder with its symbolic links resolved, asked of the kernel once for
// each prefix (resolving costs a readlink per component).
// A prefix that cannot be resolved yet (not made yet) is asked again next time. Each
// thread keeps its own answer, never destroyed: paths are still resolved at exit.
std::string realPrefixFolder(const std::string& prefix) {
    struct Known {
        std::string prefix;
        std::string real;
        bool resolved = false;
    };
    thread_local auto* const known = new Known;
    if (!known->resolved || known->prefix != prefix) {
        known->prefix = prefix;
        known->real.clear();
        known->resolved = false;
        if (char* real = realpath(prefix.empty() ? "/" : prefix.c_str(), nullptr)) {
            known->real = std::string(real) == "/" ? std::string() : real;
            known->resolved = true;
            std::free(real);
        }
    }
    return known->real;
}

// True when `hostPath` leads to an entry with no symbolic link at any of its levels,
// the whole way from '/': one call instead of a lookup per level. False also when the
// kernel cannot tell that way.
bool reachedWithoutLinks(const std::string& hostPath) {
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = syscall(SYS_openat2, AT_FDCWD, hostPath.c_str(), &how, sizeof how);
    if (fd < 0) {
        return false;
    }
    close(static_cast<int>(fd));
    return true;
}

std::string driveRoot(char drive) {
    return drive == 'z' ? std::string() : prefixFolder() + "/drive_" + drive;
}

std::string hostCurrentDirectory() {
    std::string buffer(PATH_MAX, '\0');
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(buffer.find('\0'));
    return buffer;
}

// Windows' clean-up of one written component: "." and ".." move within the drive
// (never above its root); a trailing single dot goes; the last component loses all
// its trailing dots and spaces.
void addComponent(std::vector<std::string>& components, std::string_view segment, bool last) {
    if (segment == ".") {
        return;
    }
    if (segment == "..") {
        if (!components.empty()) {
            components.pop_back();
        }
        return;
    }
    std::string name(segment);
    if (last) {
        while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
            name.pop_back();
        }
    } else if (name.size() >= 2 && name.back() == '.' && name[name.size() - 2] != '.') {
        name.pop_back();
    }
    if (!name.empty()) {
        components.push_back(std::move(name));
    }
}

}  // namespace

std::string prefixFolder() {
    std::string prefix;
    if (const char* value = std::getenv("FERROWICK_PREFIX"); value != nullptr && *value != '\0') {
        prefix = value;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == '\0') {
            const passwd* user = getpwuid(getuid());
            home = user != nullptr ? user->pw_dir : "";
        }
        prefix = std::string(home) + "/.ferrowick";
    }
    while (prefix.size() > 1 && prefix.back() == '/') {
        prefix.pop_back();
    }
    return prefix == "/" ? std::string() : prefix;
}

uint32_t attributesOf(const struct stat& info) {
    uint32_t attributes = S_ISDIR(info.st_mode) ? kAttrDirectory : kAttrArchive;
    if ((info.st_mode & S_IWUSR) == 0) {
        attributes |= kAttrReadOnly;
    }
    return attributes;
}

namespace {

// The folder that refuseLinksBelow named, without its trailing separator: set once,
// before the threads that read it go to work.
struct GuardedFolder {
    bool set = false;
    std::string path;
};

GuardedFolder& guardedFolder() {
    static auto* const folder = new GuardedFolder;
    return *folder;
}

// Where the levels of `hostPath` that may hold no link begin: past its drive's root
// folder (Z: has none), or past the guarded folder, whichever comes first; npos when
// neither holds the path.
std::size_t linkFreeRoot(const std::string& hostPath) {
    std::size_t root = std::string::npos;
    if (const GuardedFolder& guarded = guardedFolder();
        guarded.set && hostPath.starts_with(guarded.path) &&
        (hostPath.size() == guarded.path.size() || hostPath[guarded.path.size()] == '/')) {
        root = guarded.path.size();
    }
    if (hostPath.find("/drive_") == std::string::npos) {
        return root;  // in no drive folder: the environment need not be read
    }
    const std::string drives = prefixFolder() + "/drive_";
    const std::size_t driveRoot = drives.size() + 1;
    if (hostPath.size() < driveRoot || hostPath.compare(0, drives.size(), drives) != 0 ||
        (hostPath.size() > driveRoot && hostPath[driveRoot] != '/')) {
        return root;
    }
    return std::min(root, driveRoot);
}

}  // namespace

void refuseLinksBelow(const std::string& hostFolder) {
    GuardedFolder& guarded = guardedFolder();
    guarded.set = true;
    guarded.path = hostFolder;
    while (!guarded.path.empty() && guarded.path.back() == '/') {
        guarded.path.pop_back();
    }
}

bool passesThroughLink(const std::string& hostPath, bool includingLast) {
    const std::size_t root = linkFreeRoot(hostPath);
    if (root == std::string::npos) {
        return false;
    }
    // Most paths have no link anywhere: the kernel says so at once, and only a path it
    // refuses (a link, perhaps above the drive's root, or a missing level) is walked.
    const int error = errno;
    if (includingLast && reachedWithoutLinks(hostPath)) {
        errno = error;
        return false;
    }
    const std::size_t slash = hostPath.rfind('/');
    if ((!includingLast || errno == ENOENT) && slash >= root &&
        reachedWithoutLinks(hostPath.substr(0, slash))) {
        errno = error;
        return false;  // the last level, when asked for, was missing a moment ago
    }
    errno = error;
    std::size_t end = root;
    while (end < hostPath.size()) {
        end = hostPath.find('/', end + 1);
        if (end == std::string::npos) {
            if (!includingLast) {
                return false;
            }
            end = hostPath.size();
        }
        struct stat info {};
        if (lstat(hostPath.substr(0, end).c_str(), &info) != 0) {
            return false;  // nothing below a missing level exists to go through
        }
        if (S_ISLNK(info.st_mode)) {
            errno = ELOOP;
            return true;
        }
    }
    return false;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string hostPathOf(const DrivePath& path) {
    std::string host = driveRoot(path.drive);
    for (const std::string& component : path.components) {
        host += '/';
        host += component;
    }
    return host.empty() ? "/" : host;
}

DrivePath drivePathOf(std::string_view hostPath) {
    DrivePath result;
    std::string_view rest = hostPath;
    // The prefix's real spelling costs a lookup per level while the prefix is missing:
    // asked only of a path that could lie in a drive folder at all.
    const bool inAnyDrive = hostPath.find("/drive_") != std::string_view::npos;
    const std::string prefix = inAnyDrive ? prefixFolder() : std::string();
    for (int pass = 0; pass < (inAnyDrive ? 2 : 0); ++pass) {
        const std::string folder = (pass == 0 ? prefix : realPrefixFolder(prefix)) + "/drive_";
        if (hostPath.size() >= folder.size() + 1 && hostPath.substr(0, folder.size()) == folder) {
            const char letter = hostPath[folder.size()];
            const bool ends =
                hostPath.size() == folder.size() + 1 || hostPath[folder.size() + 1] == '/';
            if (letter >= 'a' && letter <= 'y' && ends) {
                result.drive = letter;
                rest = hostPath.substr(folder.size() + 1);
                break;
            }
        }
    }
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        if (!part.empty()) {
            result.components.emplace_back(part);
        }
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    return result;
}

bool parsePath(const char* path, DrivePath& parsed, bool& trailingSeparator) {
    if (path == nullptr || *path == '\0') {
        errno = ENOENT;
        return false;
    }
    // Convert first, split afterwards: a trail byte 0x5C is no separator.
    const std::string text = ansiToUtf8(path, ansiCodePage());
    if (utf16Length(text) >= kMaxPath) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (text.size() >= 2 && isSeparator(text[0]) && isSeparator(text[1])) {
        errno = ENOENT;  // UNC and device paths lead nowhere here
        return false;
    }
    std::string_view rest = text;
    bool fromRoot = false;
    bool hasDrive = false;
    parsed = DrivePath{};
    if (text.size() >= 2 && text[1] == ':') {
        const char letter = lowerAscii(text[0]);
        if (letter < 'a' || letter > 'z') {
            errno = ENOENT;
            return false;
        }
        parsed.drive = letter;
        hasDrive = true;
        rest.remove_prefix(2);
    }
    for (char c : rest) {
        if (isForbiddenInName(c)) {
            errno = EINVAL;
            return false;
        }
    }
    if (!rest.empty() && isSeparator(rest.front())) {
        fromRoot = true;
    }
    if (!fromRoot) {
        // Relative to the current directory (only one is kept, for its own drive).
        const std::string cwd = hostCurrentDirectory();
        if (cwd.empty()) {
            return false;
        }
        DrivePath current = drivePathOf(cwd);
        if (!hasDrive || current.drive == parsed.drive) {
            parsed = std::move(current);
        }
    } else if (!hasDrive) {
        const std::string cwd = hostCurrentDirectory();
        if (cwd.empty()) {
            return false;
        }
        parsed.drive = drivePathOf(cwd).drive;
    }
    trailingSeparator = !rest.empty() && isSeparator(rest.back());
    while (!rest.empty()) {
        std::size_t end = 0;
        while (end < rest.size() && !isSeparator(rest[end])) {
            ++end;
        }
        const std::string_view segment = rest.substr(0, end);
        rest.remove_prefix(end);
        while (!rest.empty() && isSeparator(rest.front())) {
            rest.remove_prefix(1);
        }
        if (!segment.empty()) {
            addComponent(parsed.components, segment, rest.empty() && !trailingSeparator);
        }
    }
    return true;
}

bool resolvePath(const char* path, HostPath& resolved, bool creating) {
    DrivePath parsed;
    resolved = HostPath{};
    if (!parsePath(path, parsed, resolved.trailingSeparator)) {
        return false;
    }
    if (parsed.drive != 'z') {
        ensurePrefix();
    }
    resolved.driveRoot = parsed.components.empty();
    resolved.path = hostPathOf(parsed);
    const auto& components = parsed.components;
    const std::size_t last = components.size() - 1;
    std::string current = driveRoot(parsed.drive);
    std::string parent;
    struct stat parentInfo {};
    bool parentAsked = false;  // `parent` looked up already: `parentFound` tells the answer
    bool parentFound = false;
    if (components.size() >= 2) {
        parent = current;
        for (std::size_t j = 0; j < last; ++j) {
            parent += '/';
            parent += components[j];
        }
        // A new name in a folder whose listing is kept (a folder being filled): the
        // folder's stamp answers for the name, one lookup instead of two. Only for a
        // creation: a name made by another process within the stamp's clock tick is
        // missed here, and then refused by O_EXCL.
        if (creating && mayBeAbsent(parent, components[last])) {
            parentAsked = true;
            parentFound = lookUp(parent, parentInfo);
            if (parentFound && knownAbsent(parent, components[last], parentInfo)) {
                errno = ENOENT;
                return true;
            }
        }
    }
    if (lookUp(resolved.path, resolved.info)) {
        resolved.exists = true;
        return true;
    }
    const int missing = errno;
    // Walk down, correcting the case of each component that is missing as spelled. When
    // the parent exists as spelled (a new entry in a known folder), start there.
    std::size_t i = 0;
    const struct stat* currentInfo = nullptr;  // what `current` is, when looked up already
    if (missing == ENOENT && components.size() >= 2) {
        if (parentAsked ? parentFound : lookUp(parent, parentInfo)) {
            current = std::move(parent);
            currentInfo = &parentInfo;
            i = last;
        }
    }
    bool found = false;
    bool asSpelled = true;  // `current` is spelled as given
    for (; i < components.size(); ++i) {
        std::string next = current + "/" + components[i];
        // The whole path as spelled was looked at first: do not ask for it again.
        const bool known = i == last && asSpelled;
        const bool present = !known && (i == last ? lookUp(next, resolved.info) : exists(next));
        const int error = known ? missing : errno;
        std::string spelled;
        found = present;
        if (!present) {
            if (error != ENOENT ||
                !findIgnoringCase(current, components[i], spelled, currentInfo)) {
                for (std::size_t j = i + 1; j < components.size(); ++j) {
                    next += "/" + components[j];
                }
                resolved.path = next;
                return true;
            }
            next = current + "/" + spelled;
            asSpelled = false;
        }
        current = std::move(next);
        currentInfo = nullptr;
    }
    resolved.path = current.empty() ? "/" : current;
    // A name found in a listing may have gone since; one found as spelled is there.
    resolved.exists = !components.empty() && (found || lookUp(resolved.path, resolved.info));
    return true;
}

bool currentDirectory(std::string& path) {
    const std::string cwd = hostCurrentDirectory();
    if (cwd.empty()) {
        return false;
    }
    const DrivePath drivePath = drivePathOf(cwd);
    std::string text = drivePathText(drivePath);
    if (drivePath.components.empty()) {
        text += '\\';
    }
    return utf8ToAnsi(text, ansiCodePage(), path);
}

std::string drivePathText(const DrivePath& path) {
    std::string text{static_cast<char>(path.drive - 'a' + 'A'), ':'};
    for (const std::string& component : path.components) {
        text += '\\';
        text += component;
    }
    return text;
}

}  // namespace fw::posix
