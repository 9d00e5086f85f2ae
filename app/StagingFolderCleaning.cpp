#include "app/StagingFolderCleaning.h"

#include "app/FileErrors.h"
#include "platform/Platform.h"

std::optional<Leftover> EmptyFolder(const std::string& folder) {
    std::string failed = folder;
    if (fw::os().emptyFolder(folder.c_str(), failed)) {
        return std::nullopt;
    }
    const uint32_t error = fw::os().lastError();
    return Leftover{failed.empty() ? folder : failed, error};
}

std::string LeftoverNotice(const Leftover& leftover) {
    return "The installation files could not be prepared.\n\n" + leftover.path +
           ", left by an earlier installation, could not be removed: " + ReasonFor(leftover.error) +
           ".\n\nThe set-up program has not been started. Please close any set-up program "
           "that is still running, and then run this program again.";
}
