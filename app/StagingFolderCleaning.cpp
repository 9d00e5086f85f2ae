#include "app/StagingFolderCleaning.h"

#include <vector>

#include "app/FileErrors.h"
#include "platform/Platform.h"

namespace {

// The entries of `folder` but "." and "..", listed in full before any is removed.
std::optional<Leftover> ListFolder(const std::string& folder, std::vector<fw::FindEntry>& entries) {
    fw::FindEntry entry;
    const fw::FindHandle find = fw::os().findFirst((folder + "\\*").c_str(), entry);
    if (find == fw::kInvalidFind) {
        return Leftover{folder, fw::os().lastError()};
    }
    fw::FindStep step = fw::FindStep::entry;
    for (; step == fw::FindStep::entry; step = fw::os().findNext(find, entry)) {
        if (entry.name != "." && entry.name != "..") {
            entries.push_back(entry);
        }
    }
    const uint32_t error = step == fw::FindStep::failed ? fw::os().lastError() : 0;
    fw::os().findClose(find);
    if (step == fw::FindStep::failed) {
        return Leftover{folder, error};
    }
    return std::nullopt;
}

// Removes one entry of a listing with all it holds.
std::optional<Leftover> Remove(const std::string& path, uint32_t attributes) {
    const bool folder = (attributes & fw::kAttrDirectory) != 0;
    const bool link = (attributes & fw::kAttrReparsePoint) != 0;
    const auto failed = [&] {
        return std::optional<Leftover>(Leftover{path, fw::os().lastError()});
    };
    // A folder is named with a separator after it: Windows drops trailing blanks and dots
    // from a path's last part only, and an item's folder may end in them ("disk1 /a").
    // A link is named as it is, to be removed itself.
    const std::string named = folder && !link ? path + "\\" : path;
    // A read-only entry is refused removal (and a read-only folder the removal of what it
    // holds); a link's own attributes are left alone, as it is not followed.
    if (!link && (attributes & fw::kAttrReadOnly) != 0 &&
        !fw::os().setFileAttributes(named.c_str(), attributes & ~fw::kAttrReadOnly)) {
        return failed();
    }
    if (folder && !link) {
        if (std::optional<Leftover> inside = EmptyFolder(path)) {
            return inside;
        }
    }
    const bool removed =
        folder ? fw::os().removeDirectory(named.c_str()) : fw::os().removeFile(named.c_str());
    return removed ? std::nullopt : failed();
}

}  // namespace

std::optional<Leftover> EmptyFolder(const std::string& folder) {
    std::vector<fw::FindEntry> entries;
    if (std::optional<Leftover> unlisted = ListFolder(folder, entries)) {
        return unlisted;
    }
    for (const fw::FindEntry& entry : entries) {
        if (std::optional<Leftover> left = Remove(folder + "\\" + entry.name, entry.attributes)) {
            return left;
        }
    }
    return std::nullopt;
}

std::string LeftoverNotice(const Leftover& leftover) {
    return "The installation files could not be prepared.\n\n" + leftover.path +
           ", left by an earlier installation, could not be removed: " + ReasonFor(leftover.error) +
           ".\n\nThe set-up program has not been started. Please close any set-up program "
           "that is still running, and then run this program again.";
}
