// Every exit status of the launcher, and which one each way a run can end gives.
//
// A run with notices ends with the small numbers it always had. A run under /S is
// watched by a deployment tool, which reads Windows Installer's codes: it ends with
// those for the same outcomes, and once SETUP.exe has run, with SETUP.exe's own status,
// whatever its number (so that 3010, a restart is needed, reaches the tool).
#pragma once

#include <string>

enum class ExitStatus : int {
    done = 0,
    // The installer set could not be loaded or staged; also the framework's failed start.
    notStaged = 1,
    notUnpacked = 2,
    anotherLauncherRunning = 3,
    setupNotStarted = 4,
    commandLineUnusable = 5,
    // Windows Installer's ERROR_INSTALL_FAILURE, ERROR_INSTALL_ALREADY_RUNNING and
    // ERROR_INVALID_COMMAND_LINE.
    installFailure = 1603,
    installAlreadyRunning = 1618,
    invalidCommandLine = 1639,
};

// The ways a run ends before SETUP.exe's own status can decide it.
enum class Outcome {
    done,
    notStaged,
    notUnpacked,
    anotherLauncherRunning,
    setupNotStarted,
    argumentsRefused,
    commandLineUnusable,
};

struct OutcomeStatus {
    Outcome outcome;
    ExitStatus withNotices;
    ExitStatus silent;  // under /S
    const char* what;   // in the launcher's words
};

// Every outcome once, in the order of the usage's list.
inline constexpr OutcomeStatus kOutcomeStatuses[] = {
    {Outcome::done, ExitStatus::done, ExitStatus::done,
     "everything was unpacked and copied, and SETUP.exe was started (under /S, SETUP.exe's "
     "own status once it has run)"},
    {Outcome::notStaged, ExitStatus::notStaged, ExitStatus::installFailure,
     "the installer set could not be staged"},
    {Outcome::notUnpacked, ExitStatus::notUnpacked, ExitStatus::installFailure,
     "items could not be unpacked"},
    {Outcome::anotherLauncherRunning, ExitStatus::anotherLauncherRunning,
     ExitStatus::installAlreadyRunning, "another launcher is running"},
    {Outcome::setupNotStarted, ExitStatus::setupNotStarted, ExitStatus::installFailure,
     "SETUP.exe could not be started"},
    {Outcome::argumentsRefused, ExitStatus::setupNotStarted, ExitStatus::invalidCommandLine,
     "the arguments for SETUP.exe cannot be passed"},
    {Outcome::commandLineUnusable, ExitStatus::commandLineUnusable, ExitStatus::invalidCommandLine,
     "the command line cannot be used"},
};

// The exit status of `outcome` for a run with notices, or for one under /S.
ExitStatus ExitStatusOf(Outcome outcome, bool silent);

// The number as the process ends with it.
constexpr int ExitCode(ExitStatus status) {
    return static_cast<int>(status);
}

// The exit statuses in words, for the usage: one line per outcome, "0 / 0  what".
std::string ExitStatusText();
