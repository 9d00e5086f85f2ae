// Drive paths of the ANSI code page to host paths, as a Windows layer over POSIX lays
// them out: "X:" is the folder drive_x of the prefix folder, "Z:" the host's root.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw::posix {

// Paths of this many UTF-16 units or more are refused, as MAX_PATH does.
inline constexpr std::size_t kMaxPath = 260;

// The prefix folder: FERROWICK_PREFIX, or $HOME/.ferrowick.
std::string prefixFolder();

// A drive path taken apart: the drive letter (lower case) and its components (UTF-8),
// with "." and ".." already resolved.
struct DrivePath {
    char drive = 'z';
    std::vector<std::string> components;
};

// Where a drive path leads on the host.
struct HostPath {
    std::string path;                // host path, UTF-8
    bool exists = false;             // the whole path names an existing entry
    struct stat info {};             // what it is when it exists (a link followed)
    bool trailingSeparator = false;  // written with a separator at the end
    bool driveRoot = false;          // the root folder of a drive
};

// Parses an ANSI path: a drive letter, a root-relative or a relative path. False for
// a path that cannot name anything: null, empty, too long, UNC, or a bad drive.
bool parsePath(const char* path, DrivePath& parsed, bool& trailingSeparator);

// Parses and resolves `path`: every component that does not exist as spelled is looked
// up with ASCII letters compared case-insensitively; components not found stay as given.
// `creating`: the caller makes the entry with O_EXCL when it is missing, so the kept
// listing of its folder may answer that it is missing (the kernel then checks the name).
bool resolvePath(const char* path, HostPath& resolved, bool creating = false);

// The host folder a drive path leads to, spelled exactly as given.
std::string hostPathOf(const DrivePath& path);

// The drive path of a host path (inside the prefix's drive_x folders: "X:", else "Z:").
DrivePath drivePathOf(std::string_view hostPath);

// A drive path as text, UTF-8: "X:" and its components after backslashes.
std::string drivePathText(const DrivePath& path);

// True when a level of `hostPath` below the root folder of its drive is a symbolic link
// (the last level only when `includingLast`); errno is then ELOOP. Z:, the host's own
// tree, is laid out by the host and is never refused, but below the folder that
// refuseLinksBelow names.
bool passesThroughLink(const std::string& hostPath, bool includingLast);

// From now on, no link below the host folder `hostFolder` (given with its own links
// resolved) is gone through either, as below a drive's root. For a tool that unpacks
// into a folder on Z:, before it starts writing there.
void refuseLinksBelow(const std::string& hostFolder);

// Win32 attribute bits of a host entry: folder or file, read-only when the owner may
// not write.
uint32_t attributesOf(const struct stat& info);

// ASCII letters compared case-insensitively; other bytes exactly.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace fw::posix
