// The installer driver: the application object whose start-up is the whole installation
// (app/InstallSequence.cpp), with the resource folder copy (app/ResourceFolderCopy.cpp)
// and the About command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/CommandLine.h"
#include "app/ExitStatus.h"
#include "app/LaunchLog.h"
#include "app/OwnFolders.h"
#include "app/WinApp.h"
#include "res/resource.h"  // ID_APP_ABOUT

// A test option: the installation unpacks on at most `limit` threads (4 by default).
// With 1 the run is, call for call, the one-thread walk over the items: the fault sweeps
// take it, so that the n-th call of a run is always the same call.
void SetUnpackWorkerLimit(int limit);

class CFerrowickApp : public CWinApp {
  public:
    CFerrowickApp();
    // Removes the unpacked set-up program, which the launched installer is done with,
    // then gives the single-instance lock up.
    ~CFerrowickApp() override;

    // The installation: notices, staging, unpacking, the resource folder copy and the
    // launch of the installer. False when it stops early, always with a notice: when the
    // installation files cannot be prepared (a folder of the launcher's is refused or
    // cannot be made, an earlier run's file cannot be removed, the payload cannot be
    // loaded or staged), when another launcher is running, when items could not be
    // unpacked, when the set-up program cannot be started (its folder's name, or the
    // system refused), when its arguments cannot be passed, or when the command line
    // cannot be used (the exit statuses are app/ExitStatus.h's). The command line's /?
    // shows the usage and does nothing else. Without arguments SETUP.exe runs through the
    // command interpreter, as it always has; under /S, or with arguments for it, it is
    // started directly, and under /S a complete run ends with its status.
    bool InitInstance() override;

    bool OnCommand(uint32_t id) override;

    // Logs the notice; under /S shows nothing and goes on as if it had been acknowledged.
    int DoMessageBox(const std::string& text, uint32_t type, uint32_t helpContext) override;

    // Copies every file below `sourceFolder` into `destinationFolder`, folders included,
    // replacing existing files and skipping "Thumbs.db". In copied file names every
    // `replaceFrom` becomes `replaceTo`. A file that cannot be copied gets a notice.
    void CopyResourceFolder(std::string replaceFrom, std::string replaceTo,
                            std::string sourceFolder, std::string destinationFolder);

    void OnAppAbout();

  private:
    // What the resource folder copy did, for the log.
    struct CopyCount {
        bool listed = false;  // the resource folder itself could be listed
        int copied = 0;
        int failed = 0;
        int depth = 0;  // of the copy's recursion: 1 in the resource folder itself
    };

    // Starts the log that the command line asks for, if any: afresh only for the run
    // that holds the single-instance lock, since another may be writing the same file.
    void StartLog(bool fresh);
    // Logs how the run ended and makes the outcome's exit status the run's.
    void End(Outcome outcome, std::string_view how);
    // Logs that the run ends with SETUP.exe's own status, and makes it the run's.
    void EndWithSetupStatus(uint32_t status);
    // The copy into the product folder, with what it did in the log.
    void CopyProductFolder(const std::string& resourceFolder);
    // A top folder whose name SETUP.exe cannot be started by: a notice, and the end.
    bool RefuseLaunch(std::string_view why);
    // SETUP.exe through the command interpreter, as the run without arguments has it.
    bool RunSetupCommand(const std::string& topFolder);
    // SETUP.exe started directly, with what follows "--".
    bool StartSetup(const std::string& topFolder);

    // Makes or checks C:\Temp\_Download, the launcher's own folder that holds the lock
    // and the default log, once; true when it can be used (app/InstallPreparation.cpp).
    bool DownloadFolderReady();
    // Makes or checks and empties the staging folder, checks the product folders that are
    // there, and stages the payload; false, the run ended, when any of it fails.
    bool PrepareInstallationFiles();
    // Makes or checks the product folders (with `existingOnly`, those that are there);
    // false, the run ended, when one is refused.
    bool PrepareProductFolders(bool existingOnly);
    // Ends the run as not staged: `logged` under `what` in the log, the notice shown.
    bool FailPreparation(std::string_view what, const std::string& logged,
                         const std::string& notice, std::string_view how);
    // The same for one of the launcher's own folders that cannot be used.
    bool FailFolder(const FolderProblem& problem);

    // Another launcher is running, or the staging folder is refused: what lies there is
    // not this run's to remove.
    bool stagingNotOurs_ = false;
    bool holdsLock_ = false;
    bool downloadChecked_ = false;
    std::optional<FolderProblem> downloadProblem_;
    LaunchOptions options_;
    LaunchLog log_;
    CopyCount copy_;
};
