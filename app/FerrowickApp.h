// The installer driver: the application object whose start-up is the whole installation
// (app/InstallSequence.cpp), with the resource folder copy (app/ResourceFolderCopy.cpp)
// and the About command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/CommandLine.h"
#include "app/LaunchLog.h"
#include "app/WinApp.h"
#include "res/resource.h"  // ID_APP_ABOUT

// A test option: the installation unpacks on at most `limit` threads (4 by default).
// With 1 the run is, call for call, the one-thread walk over the items: the fault sweeps
// take it, so that the n-th call of a run is always the same call.
void SetUnpackWorkerLimit(int limit);

class CFerrowickApp : public CWinApp {
  public:
    CFerrowickApp();
    // Removes the unpacked set-up program; the launched installer is done with it.
    ~CFerrowickApp() override;

    // The installation: notices, staging, unpacking, the resource folder copy and the
    // launch of the installer. False when it stops early: silently when the payload
    // cannot be loaded or the staging archive cannot be written (exit status 1); with a
    // notice when another launcher is running (3), when items could not be unpacked (2),
    // when the set-up program cannot be started safely with its folder or its arguments
    // (4), or when the command line cannot be used (5). The command line's /? shows the
    // usage and does nothing else; under /S a complete run ends with SETUP.exe's status.
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
    // Starts the log that the command line asks for, if any: afresh only for the run
    // that holds the single-instance lock, since another may be writing the same file.
    void StartLog(bool fresh);
    // Logs how the run ended and makes `status` its exit status.
    void End(int status, std::string_view how);

    // Another launcher was running: the set-up program it unpacked is its own.
    bool anotherRunning_ = false;
    LaunchOptions options_;
    LaunchLog log_;
};
