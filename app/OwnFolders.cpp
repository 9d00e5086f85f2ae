#include "app/OwnFolders.h"

#include "app/FileErrors.h"

bool FolderProblem::Refused() const {
    return verdict == fw::FolderVerdict::ownedByAnother ||
           verdict == fw::FolderVerdict::changeableByOthers;
}

std::optional<FolderProblem> PrepareOwnFolder(const char* folder, bool everyoneReads) {
    FolderProblem problem{folder, fw::os().makeOwnFolder(folder, everyoneReads)};
    switch (problem.verdict) {
        case fw::FolderVerdict::made:
        case fw::FolderVerdict::accepted:
        case fw::FolderVerdict::tightened:
            return std::nullopt;
        case fw::FolderVerdict::failed:
            problem.error = fw::os().lastError();
            break;
        default:
            break;
    }
    return problem;
}

namespace {

// Why a refused folder is refused.
std::string RefusalReason(const FolderProblem& problem) {
    return problem.verdict == fw::FolderVerdict::ownedByAnother ? "another user owns it"
                                                                : "other users can change it";
}

}  // namespace

std::string FolderProblemNotice(const FolderProblem& problem) {
    std::string text = "The installation files could not be prepared.\n\n";
    if (problem.Refused()) {
        return text + "The folder " + problem.folder +
               " cannot be used safely: " + RefusalReason(problem) +
               ", and so could change the set-up program before it runs.\n\n"
               "The set-up program has not been started. Please ask an administrator to "
               "remove the folder " +
               problem.folder + ", and then run this program again.";
    }
    if (problem.verdict == fw::FolderVerdict::occupied) {
        return text + "The folder " + problem.folder +
               " cannot be made: a file, or a link or junction, stands in its place.\n\n"
               "The set-up program has not been started. Please remove what stands there "
               "(an administrator may have to), and then run this program again.";
    }
    return text + "The folder " + problem.folder +
           " could not be made or checked: " + ReasonFor(problem.error) +
           ".\n\nThe set-up program has not been started. Please run this program again "
           "once the folder can be made; an administrator may have to help.";
}

std::string FolderProblemText(const FolderProblem& problem) {
    if (problem.Refused()) {
        return problem.folder + " refused: " + RefusalReason(problem) +
               "; an administrator should remove it";
    }
    if (problem.verdict == fw::FolderVerdict::occupied) {
        return problem.folder + " not made: a file, or a link or junction, stands in its place";
    }
    return problem.folder + " not made or checked: " + SystemWords(problem.error);
}
