// Case-insensitive lookup of a name in a host folder, with a small cache of folder
// listings so that a folder being filled is not listed again for every new name.
//
// A cached listing is used only while the folder's device, inode and modification time
// are those recorded; any other change to the folder lists it again. Changes made
// through this backend update the listing in place. What stays unseen is a change by
// another process that lands between our own look at the folder and our own change to
// it, and keeps the modification time that our change gives it (on file systems with
// coarse time stamps, within one clock tick); the uncached lookup has the same race
// between its listing and the creation that follows.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace fw::posix {

// Folders kept, and names kept over all of them: older folders are dropped to keep
// within that, but the folder in use is kept whatever its number of names.
inline constexpr std::size_t kCachedFolders = 64;
inline constexpr std::size_t kCachedNames = 1u << 16;

// The entry of `folder` (a host path; empty is the root) whose name equals `name` but
// for ASCII letter case: the first in listing order when several do. `folderInfo`, when
// given, is what the caller has just found `folder` to be (links followed).
bool findIgnoringCase(const std::string& folder, const std::string& name, std::string& found,
                      const struct stat* folderInfo = nullptr);

// True when a listing of `folder` is kept and holds no name equal to `name` but for
// ASCII letter case; asks nothing of the host. Only a hint: see knownAbsent.
bool mayBeAbsent(const std::string& folder, const std::string& name);

// True when the kept listing of `folder` is still the folder that `folderInfo` has just
// found (links followed) and holds no name equal to `name` but for letter case: then
// nothing of that name is there, as far as the folder's stamp can tell (a name made by
// another process within the clock tick of the stamp is not seen: for creations only).
bool knownAbsent(const std::string& folder, const std::string& name, const struct stat& folderInfo);

// How many times a folder has been listed since the process started.
std::uint64_t folderListings();

// Report an entry that this backend just created or removed (a host path).
void noteCreated(const std::string& hostPath);
void noteRemoved(const std::string& hostPath);

}  // namespace fw::posix
