// The installation that runs as the application's start-up.
#include <optional>
#include <string>
#include <vector>

#include "app/ExitStatus.h"
#include "app/FerrowickApp.h"
#include "app/File.h"
#include "app/FileErrors.h"
#include "app/InstallPaths.h"
#include "app/LaunchCommand.h"
#include "app/OwnFolders.h"
#include "app/Text.h"
#include "app/UnpackProgress.h"
#include "archive/ArchiveReader.h"
#include "archive/ArchiveUnpacker.h"
#include "platform/Mbcs.h"
#include "platform/Platform.h"

namespace {

constexpr int32_t kPatienceIndex = 600;
constexpr uint32_t kLaunchWaitMilliseconds = 5000;
// Failed items that the failure notice names; the rest are counted.
constexpr std::size_t kFailuresNamed = 5;
// Threads that unpack at most (a test option: with 1 the run is the one-thread walk).
int unpackWorkerLimit = 4;

const char* const kOpeningNotice =
    "No problem, you can officially start to install the software 'Orvelin'.\n"
    "However, it takes about three minutes to unpack the data, please be patient.";

const char* const kPreparationNotice =
    "Note: After closing this message box, it usually takes \n"
    "no more than one minute to prepare data, please be patient! \n\n"
    "If you can't start the installation for more than three minutes, \n"
    "it means that the installation has failed. Please try another computer system.";

const char* const kPatienceNotice =
    "It will take more than half a minute to load a large amount of data, please be patient!";

const char* const kCompletionNotice =
    "Data preparation has been completed, now it is time to install the 'Orvelin' tool.\n\n"
    "(1) Note: If the black blank image of the command box'C:\\ WINDOW \\ system32 \\ "
    "cmd.exe'\n"
    "displayed by the video system still exists, please close it!\n"
    "(2) When asking about the official installation, please try to select 'Yes'\n"
    "or 'Continue to the next step', and the installation can be completed in one go.\n\n\n\n"
    "**************************************\n"
    "AFTER INSTALL VISUAL ORVELIN SUCCEEDE,  IF YOU WILL \n"
    "YOU CAN TO OPEN THE SOFTWARE PRODUCT (half million program code): \n"
    "C:\\Product_Released\\Pellmoor\\Pellmoor.exe \n"
    "THAT HAS BEEN MADE BY A MIDDEL SCHOOL STUDEN THEMSELF IN ONE HOUR CLASSROOM TEACHING. \n"
    "       TRY  Excute  IT,  SELECT  'form'  IN  MENU  BAR !    ";

const char* const kAlreadyRunningNotice =
    "Set-up is already running on this computer.\n\n"
    "Please finish that set-up first, or wait until it has ended, and then start this "
    "program again if you still need it.";

std::string CommandLineNotice(const std::string& problem, const std::string& usage) {
    return "The command line cannot be used, so nothing has been done: " + problem + ".\n\n" +
           usage;
}

std::string ArgumentsRefusedNotice(const std::string& refusal) {
    return "The set-up program cannot be started, so nothing has been done: " + refusal + ".";
}

const char* const kLaunchRefusedNotice =
    "The installation files have been prepared, but the set-up program was not started: "
    "the name of its folder in the installation archive cannot be used safely on a "
    "command line.\n\n"
    "The installation archive may be damaged. Please get a new copy of this program.";

std::string SetupNotStartedNotice(const std::string& reason) {
    return "The installation files have been prepared, but the set-up program could not be "
           "started: " +
           reason + "\n\nPlease run this program again, or ask your administrator for help.";
}

// A notice in the log: its first line, " ..." standing for the rest, which is the
// notice's own wording and says nothing of the run that the log does not.
std::string NoticeLine(std::string_view text) {
    const std::size_t end = text.find('\n');
    std::string line = TrimRight(std::string(text.substr(0, end)));
    if (end != std::string_view::npos &&
        text.find_first_not_of(" \n", end) != std::string_view::npos) {
        line += " ...";
    }
    return line;
}

// What unpacking the staging archive came to.
struct UnpackOutcome {
    std::string topFolder;
    bool archiveRead = false;  // opened, and its items counted
    int32_t itemCount = 0;
    int32_t failedCount = 0;
    std::vector<std::string> firstFailures;  // "target: reason"
};

// Why an item could not be unpacked, in plain words: the system's last error where the
// file could not be made or written, else the reader's result.
std::string Reason(ArchiveResult result, uint32_t error) {
    if ((result == AR_CANNOT_OPEN || result == AR_WRITE_FAILED) && error != 0) {
        return ReasonFor(error);
    }
    return ArchiveResultWording(result).forInstaller;
}

std::string FailureNotice(const UnpackOutcome& outcome) {
    std::string text = "The installation files could not be prepared.\n\n";
    if (!outcome.archiveRead) {
        text +=
            "The installation archive could not be read, so none of its items could be "
            "unpacked.\n";
    } else {
        text += std::to_string(outcome.failedCount) + " of the " +
                std::to_string(outcome.itemCount) +
                " items in the installation archive could not be unpacked";
        text += outcome.firstFailures.size() < static_cast<std::size_t>(outcome.failedCount)
                    ? ". The first of them:\n"
                    : ":\n";
        for (const std::string& failure : outcome.firstFailures) {
            text += failure + "\n";
        }
    }
    return text +
           "\nThe set-up program has not been started. Please free some disk space, close "
           "any other set-up windows, and then run this program again.";
}

// Unpacks one item, on a worker's thread. A file that an earlier run left in the item's
// place read-only (complete or cut short) is refused by the reader; its read-only, hidden
// and system attributes are cleared and the item is unpacked again. `error` is the
// system's last error when the result is not AR_OK.
ArchiveResult ExtractReplacing(ArchiveHandle archive, const DescribedItem& item,
                               const std::string& target, uint32_t& error) {
    constexpr uint32_t kProtecting = fw::kAttrReadOnly | fw::kAttrHidden | fw::kAttrSystem;
    ArchiveResult result = ExtractDescribedItem(archive, item, target.c_str());
    error = result == AR_OK ? 0 : fw::os().lastError();
    if (result != AR_CANNOT_OPEN) {
        return result;
    }
    const uint32_t attributes = fw::os().getFileAttributes(target.c_str());
    if (attributes == fw::kInvalidAttributes ||
        (attributes & (fw::kAttrDirectory | fw::kAttrReparsePoint)) != 0 ||
        (attributes & kProtecting) == 0) {
        return result;
    }
    if (!fw::os().setFileAttributes(target.c_str(), attributes & ~kProtecting)) {
        error = fw::os().lastError();
        return result;
    }
    result = ExtractDescribedItem(archive, item, target.c_str());
    error = result == AR_OK ? 0 : fw::os().lastError();
    return result;
}

// Unpacks every item of the staging archive; finds the top folder of the first item
// name that has one, and counts what could not be unpacked. Every failed item is logged.
// Items are unpacked on several threads, but each is reported here in archive order, and
// so is how far the unpacking has come: shown (unless `silent`) and logged. Nothing of it
// is shown any more when this returns.
UnpackOutcome UnpackStagingArchive(const LaunchLog& log, bool silent, const std::string& caption) {
    UnpackOutcome outcome;
    ArchiveHandle archive = OpenArchive(kStagingArchive);
    AfxMessageBox(kPreparationNotice, MB_OK, 0);

    ArchiveItem item;
    outcome.archiveRead = archive != nullptr && GetArchiveItem(archive, -1, item) == AR_OK;
    const int32_t count = outcome.archiveRead ? item.index : 0;
    outcome.itemCount = count;
    fw::Progress total{static_cast<uint64_t>(count), 0};
    if (outcome.archiveRead) {
        // An entry that cannot be reached fails its item below; the sum stops before it.
        (void)GetArchiveUnpackedSize(archive, total.bytes);
    }
    log.Line("items", outcome.archiveRead ? std::to_string(count) + ", " +
                                                std::to_string(total.bytes) + " bytes unpacked"
                                          : "none: the staging archive is no ZIP archive that "
                                            "can be read (the installer set in the program is "
                                            "damaged)");
    UnpackProgress progress(log, !silent, caption.c_str(), total);
    {
        fw::archive::ArchiveUnpacker unpacker(archive, count, kUnpackPrefix,
                                              fw::archive::unpackWorkers(unpackWorkerLimit),
                                              ExtractReplacing);
        fw::archive::ItemOutcome unpacked;
        for (int32_t i = 0; i < count; ++i) {
            if (i == kPatienceIndex) {
                AfxMessageBox(kPatienceNotice, MB_OK, 0);
            }
            unpacker.next(unpacked);
            // An item that cannot be described has no target to name: its number stands in.
            std::string target = "item " + std::to_string(i + 1) + " of the archive";
            uint64_t bytes = 0;
            if (unpacked.described) {
                if (outcome.topFolder.empty()) {
                    outcome.topFolder = TopFolderOf(unpacked.name);
                }
                target = kUnpackPrefix + unpacked.name;
                bytes = unpacked.size;
            }
            if (unpacked.result != AR_OK) {
                const std::string failure = target + ": " + Reason(unpacked.result, unpacked.error);
                log.Line("failed item", failure);
                if (++outcome.failedCount <= static_cast<int32_t>(kFailuresNamed)) {
                    outcome.firstFailures.push_back(failure);
                }
            }
            progress.ItemDone(bytes);
        }
    }
    progress.End();
    CloseArchive(archive);
    return outcome;
}

// The executable's file name, for the usage.
std::string ProgramName() {
    std::string path;
    if (!fw::os().moduleFileName(path)) {
        return "ferrowick";
    }
    const std::size_t separator = fw::mbcs::rfindSeparator(path);
    return separator == fw::mbcs::npos ? path : path.substr(separator + 1);
}

}  // namespace

void SetUnpackWorkerLimit(int limit) {
    unpackWorkerLimit = limit;
}

int CFerrowickApp::DoMessageBox(const std::string& text, uint32_t type, uint32_t helpContext) {
    log_.Line("notice", NoticeLine(text));
    if (options_.silent) {
        return IDOK;
    }
    return CWinApp::DoMessageBox(text, type, helpContext);
}

void CFerrowickApp::StartLog(bool fresh) {
    std::string path;
    if (options_.logFile) {
        path = *options_.logFile;
    } else if (options_.silent) {
        // Beside the staging folder, in the launcher's own folder; never in one refused.
        if (!DownloadFolderReady()) {
            return;
        }
        path = kDefaultLog;
    } else {
        return;
    }
    log_.Open(path, fresh);
    log_.Line("start", "Ferrowick " FERROWICK_VERSION);
    log_.Line("command line", CommandLineText(m_commandLine));
    log_.Line("code page", std::to_string(fw::os().ansiCodePage()));
    log_.Line("notices", options_.silent ? "not shown (/S)" : "shown");
}

void CFerrowickApp::End(Outcome outcome, std::string_view how) {
    const int status = ExitCode(ExitStatusOf(outcome, options_.silent));
    log_.Line("end",
              "exit status " + std::to_string(status) + ", the launcher's: " + std::string(how));
    AfxPostQuitMessage(status);
}

void CFerrowickApp::EndWithSetupStatus(uint32_t status) {
    log_.Line("end", "exit status " + std::to_string(status) + ", SETUP.exe's own");
    // All 32 bits, as Windows passes an exit status on.
    AfxPostQuitMessage(static_cast<int>(status));
}

bool CFerrowickApp::InitInstance() {
    options_ = ReadCommandLine(m_commandLine);
    if (options_.help) {
        fw::os().showUsage(UsageText(ProgramName()).c_str(), m_pszAppName.c_str());
        End(Outcome::done, "the usage was shown");
        return true;
    }
    // A command line that cannot be followed, or arguments that cannot be passed, are
    // refused before anything is touched (but the log under /S).
    if (!options_.problem.empty()) {
        StartLog(false);
        AfxMessageBox(CommandLineNotice(options_.problem, UsageText(ProgramName())), MB_OK, 0);
        End(Outcome::commandLineUnusable, "the command line cannot be used");
        return false;
    }
    if (!options_.refusal.empty()) {
        StartLog(false);
        AfxMessageBox(ArgumentsRefusedNotice(options_.refusal), MB_OK, 0);
        End(Outcome::argumentsRefused, "the arguments for SETUP.exe cannot be passed");
        return false;
    }
    // The lock file lies in the launcher's own folder, where nobody else can make it.
    if (!DownloadFolderReady()) {
        stagingNotOurs_ = true;
        StartLog(false);
        return FailFolder(*downloadProblem_);
    }
    // A second launcher would rewrite the staging archive under the first one.
    if (!fw::os().claimSingleInstance(kInstanceLock)) {
        stagingNotOurs_ = true;
        StartLog(false);
        AfxMessageBox(kAlreadyRunningNotice, MB_OK, 0);
        End(Outcome::anotherLauncherRunning, "another launcher is running");
        return false;
    }
    holdsLock_ = true;
    StartLog(true);
    AfxMessageBox(kOpeningNotice, MB_OK, 0);
    if (!PrepareInstallationFiles()) {
        return false;
    }

    const UnpackOutcome unpacked = UnpackStagingArchive(log_, options_.silent, m_pszAppName);
    fw::os().removeFile(kStagingArchive);
    // A tree that is not the whole installer set is neither completed nor launched.
    if (!unpacked.archiveRead || unpacked.failedCount > 0) {
        AfxMessageBox(FailureNotice(unpacked), MB_OK, 0);
        End(Outcome::notUnpacked, "items could not be unpacked");
        return false;
    }
    AfxMessageBox(kCompletionNotice, MB_OK, 0);

    const std::string resourceFolder = ResourceFolderFrom(m_pszHelpFilePath);
    if (!PrepareProductFolders(false)) {
        return false;
    }
    CopyProductFolder(resourceFolder);

    return options_.startsSetupDirectly() ? StartSetup(unpacked.topFolder)
                                          : RunSetupCommand(unpacked.topFolder);
}

void CFerrowickApp::CopyProductFolder(const std::string& resourceFolder) {
    copy_ = CopyCount{};
    CopyResourceFolder("", "", resourceFolder, kProductFolder);
    if (copy_.listed) {
        std::string counted = resourceFolder + " to " + kProductFolder + ": " +
                              std::to_string(copy_.copied) +
                              (copy_.copied == 1 ? " file copied" : " files copied");
        if (copy_.failed > 0) {
            counted += ", " + std::to_string(copy_.failed) + " not copied";
        }
        log_.Line("resource folder", counted);
    }
}

bool CFerrowickApp::RefuseLaunch(std::string_view why) {
    AfxMessageBox(kLaunchRefusedNotice, MB_OK, 0);
    End(Outcome::setupNotStarted,
        "SETUP.exe cannot be started safely: the name of its folder " + std::string(why));
    return false;
}

bool CFerrowickApp::RunSetupCommand(const std::string& topFolder) {
    // A top folder that cannot be named safely on a command line launches nothing.
    const std::optional<std::string> command = LaunchCommandFor(topFolder);
    if (!command) {
        return RefuseLaunch("cannot be used on a command line");
    }
    log_.Line("launch command", *command);
    const int status = fw::os().runCommand(command->c_str());
    log_.Line("SETUP.exe exit status", status == -1
                                           ? "-1 (or the command interpreter could not be started)"
                                           : std::to_string(status));
    fw::os().sleep(kLaunchWaitMilliseconds);
    End(Outcome::done, "SETUP.exe was started");
    return true;
}

bool CFerrowickApp::StartSetup(const std::string& topFolder) {
    const std::optional<std::string> program = SetupProgramFor(topFolder);
    if (!program) {
        return RefuseLaunch("cannot be a program's path");
    }
    const std::string arguments = options_.setupArguments.value_or("");
    log_.Line("launch command",
              "\"" + *program + "\"" + (arguments.empty() ? "" : " " + arguments));
    uint32_t status = 0;
    if (!fw::os().runProgram(program->c_str(), arguments.c_str(), status)) {
        const std::string reason = SystemWords(fw::os().lastError());
        log_.Line("SETUP.exe not started", reason);
        AfxMessageBox(SetupNotStartedNotice(reason), MB_OK, 0);
        End(Outcome::setupNotStarted, "SETUP.exe could not be started");
        return false;
    }
    log_.Line("SETUP.exe exit status", std::to_string(status));
    fw::os().sleep(kLaunchWaitMilliseconds);
    if (options_.silent) {
        EndWithSetupStatus(status);
    } else {
        End(Outcome::done, "SETUP.exe was started");
    }
    return true;
}
