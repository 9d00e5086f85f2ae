#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/Mbcs.h"
#include "platform/posix/Backend.h"
#include "platform/posix/CodePage.h"
#include "platform/posix/Paths.h"

namespace fw::posix {

namespace {

// One open listing. Entries are read from the folder as they are asked for.
struct Listing {
    DIR* dir = nullptr;
    std::string pattern;  // UTF-8
    uint32_t codePage = 0;
    int dotsGiven = 0;  // "." and ".." come first, in a folder that is not a drive root
};

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Offset of the character after the one at `i` (a stray byte counts as one).
std::size_t nextCharacter(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    return std::min(i + length, text.size());
}

// '*' matches any run of characters, '?' one character; ASCII letters in any case.
bool matches(std::string_view pattern, std::string_view name) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n = nextCharacter(name, n);
        } else if (p < pattern.size() && lowerAscii(pattern[p]) == lowerAscii(name[n])) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP;
            starN = nextCharacter(name, starN);
            n = starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size() && n == name.size();
}

// The name as Windows lists a name the code page cannot carry: the code page's default
// character, '?', for each character it lacks and for each byte that is no character.
std::string listedName(std::string_view hostName, uint32_t codePage) {
    std::string ansi;
    if (utf8ToAnsi(hostName, codePage, ansi)) {
        return ansi;
    }
    ansi.clear();
    std::string piece;
    for (std::size_t i = 0; i < hostName.size();) {
        // The shortest run of bytes from here that is a character (UTF-8 has up to 4).
        std::size_t length = 1;
        while (length <= 4 && (i + length > hostName.size() ||
                               !utf8ToAnsi(hostName.substr(i, length), codePage, piece))) {
            ++length;
        }
        ansi += length <= 4 ? piece : std::string("?");
        i += length <= 4 ? length : 1;
    }
    return ansi;
}

// What a listing tells of an entry: links are followed for what they lead to, and are
// marked as reparse points, as Windows lists symbolic links and junctions.
bool describeEntry(int folder, const char* name, uint32_t& attributes) {
    struct stat info {};
    if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    const bool link = S_ISLNK(info.st_mode);
    struct stat target {};
    if (link && fstatat(folder, name, &target, 0) == 0) {
        info = target;
    }
    attributes = attributesOf(info) | (link ? kAttrReparsePoint : 0);
    return true;
}

FindStep step(Listing& listing, FindEntry& entry) {
    while (listing.dotsGiven < 2) {
        const char* name = listing.dotsGiven++ == 0 ? "." : "..";
        struct stat info {};
        if (matches(listing.pattern, name) && fstatat(dirfd(listing.dir), name, &info, 0) == 0) {
            entry.name = name;
            entry.attributes = attributesOf(info);
            return FindStep::entry;
        }
    }
    for (;;) {
        errno = 0;
        const dirent* found = readdir(listing.dir);
        if (found == nullptr) {
            return errno == 0 ? FindStep::end : FindStep::failed;
        }
        const char* name = found->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
            !matches(listing.pattern, name)) {
            continue;
        }
        if (!describeEntry(dirfd(listing.dir), name, entry.attributes)) {
            if (errno == ENOENT) {
                continue;  // removed since it was read
            }
            return FindStep::failed;
        }
        entry.name = listedName(name, listing.codePage);
        return FindStep::entry;
    }
}

}  // namespace

FindHandle findFirst(const char* pattern, FindEntry& entry) {
    if (pattern == nullptr) {
        return kInvalidFind;
    }
    const uint32_t codePage = ansiCodePage();
    const std::string_view text = pattern;
    if (utf16Length(ansiToUtf8(text, codePage)) >= kMaxPath) {
        errno = ENAMETOOLONG;
        return kInvalidFind;
    }
    // The folder is everything before the last separator; the rest is the name pattern.
    std::size_t split = mbcs::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\\' || byte == '/') {
            split = i;
        } else if (mbcs::isLeadByte(codePage, byte) && i + 1 < text.size()) {
            ++i;
        }
    }
    std::string folder;
    std::string_view name;
    if (split != mbcs::npos) {
        folder = std::string(text.substr(0, split + 1));
        name = text.substr(split + 1);
    } else if (text.size() >= 2 && text[1] == ':') {
        folder = std::string(text.substr(0, 2));
        name = text.substr(2);
    } else {
        folder = ".";
        name = text;
    }
    auto listing = std::make_unique<Listing>();
    listing->codePage = codePage;
    listing->pattern = ansiToUtf8(name, codePage);
    if (listing->pattern == "*.*") {
        listing->pattern = "*";  // every name, with or without a dot, as on Windows
    }
    HostPath target;
    if (listing->pattern.empty() || !resolvePath(folder.c_str(), target) || !target.exists) {
        errno = ENOENT;
        return kInvalidFind;
    }
    listing->dir = opendir(target.path.c_str());
    if (listing->dir == nullptr) {
        return kInvalidFind;
    }
    listing->dotsGiven = target.driveRoot ? 2 : 0;
    if (step(*listing, entry) != FindStep::entry) {
        closedir(listing->dir);
        errno = ENOENT;
        return kInvalidFind;
    }
    return reinterpret_cast<FindHandle>(listing.release());
}

FindStep findNext(FindHandle find, FindEntry& entry) {
    if (find == kInvalidFind || find == 0) {
        errno = EBADF;
        return FindStep::failed;
    }
    return step(*reinterpret_cast<Listing*>(find), entry);
}

void findClose(FindHandle find) {
    if (find == kInvalidFind || find == 0) {
        return;
    }
    auto* listing = reinterpret_cast<Listing*>(find);
    closedir(listing->dir);
    delete listing;
}

}  // namespace fw::posix
