// The installation files prepared: the launcher's own folders made or checked, the
// staging folder emptied of earlier runs, and the payload staged. Whatever fails here
// ends the run as not staged, with the failure notice.
#include <string>

#include "app/FerrowickApp.h"
#include "app/FileErrors.h"
#include "app/Folders.h"
#include "app/InstallPaths.h"
#include "app/OwnFolders.h"
#include "app/PayloadStaging.h"
#include "app/StagingFolderCleaning.h"
#include "platform/Platform.h"

bool CFerrowickApp::DownloadFolderReady() {
    if (!downloadChecked_) {
        downloadChecked_ = true;
        CreateFolderIfMissing(kStagingLevel1);  // shared with everyone, and left as it is
        downloadProblem_ = PrepareOwnFolder(kStagingLevel2);
    }
    return !downloadProblem_;
}

bool CFerrowickApp::FailPreparation(std::string_view what, const std::string& logged,
                                    const std::string& notice, std::string_view how) {
    log_.Line(what, logged);
    AfxMessageBox(notice, MB_OK, 0);
    End(Outcome::notStaged, how);
    return false;
}

bool CFerrowickApp::FailFolder(const FolderProblem& problem) {
    return FailPreparation("own folder", FolderProblemText(problem), FolderProblemNotice(problem),
                           problem.folder + " cannot be used");
}

bool CFerrowickApp::PrepareInstallationFiles() {
    if (const auto problem = PrepareOwnFolder(kStagingFolder)) {
        stagingNotOurs_ = true;
        return FailFolder(*problem);
    }
    // Product folders that are there already are checked now, so that a refused one
    // stops the run before anything is unpacked.
    if (!PrepareProductFolders(true)) {
        return false;
    }
    // Nothing of an earlier set stays beside this one.
    if (const auto leftover = EmptyFolder(kStagingFolder)) {
        return FailPreparation("not removed", leftover->path + ": " + SystemWords(leftover->error),
                               LeftoverNotice(*leftover),
                               "the staging folder could not be emptied");
    }
    std::size_t archiveSize = 0;
    uint32_t error = 0;
    const StagingResult staged = StagePayload(kStagingArchive, &archiveSize, &error);
    if (staged != StagingResult::staged) {
        return FailPreparation("staging archive",
                               StagingFailureText(staged, error, kStagingArchive),
                               StagingFailureNotice(staged, error, kStagingArchive),
                               staged == StagingResult::payloadNotLoadable
                                   ? "the installer set could not be loaded "
                                     "from the program"
                                   : "the staging archive could not be written");
    }
    log_.Line("staging archive",
              std::string(kStagingArchive) + ", " + std::to_string(archiveSize) + " bytes");
    return true;
}

bool CFerrowickApp::PrepareProductFolders(bool existingOnly) {
    for (const char* folder : {kProductParent, kProductFolder}) {
        if (existingOnly && fw::os().getFileAttributes(folder) == fw::kInvalidAttributes) {
            continue;
        }
        // One that cannot be made is left to the copy, which tells each file it misses.
        if (const auto problem = PrepareOwnFolder(folder, true); problem && problem->Refused()) {
            return FailFolder(*problem);
        }
    }
    return true;
}
