// The folders that belong to the launcher (the staging folder and the one above it, the
// product folders): made, or checked and perhaps tightened, through makeOwnFolder; and
// what the user is told when one of them cannot be used.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Platform.h"

struct FolderProblem {
    std::string folder;
    fw::FolderVerdict verdict = fw::FolderVerdict::failed;
    uint32_t error = 0;  // the system's error, for a folder that failed

    // Another user owns it, or other users can change it.
    bool Refused() const;
};

// Makes `folder` for the launcher alone (with `everyoneReads`, everyone may read and run
// what it holds), or checks one that is there; the problem when it cannot be used.
std::optional<FolderProblem> PrepareOwnFolder(const char* folder, bool everyoneReads = false);

// The failure notice: the folder, why it cannot be used, and what to do.
std::string FolderProblemNotice(const FolderProblem& problem);

// The same for the log, in one line with the system's words.
std::string FolderProblemText(const FolderProblem& problem);
