// The installer driver: the application object whose start-up is the whole installation
// (app/InstallSequence.cpp), with the resource folder copy (app/ResourceFolderCopy.cpp)
// and the About command.
#pragma once

#include <cstdint>
#include <string>

#include "app/WinApp.h"
#include "res/resource.h"  // ID_APP_ABOUT

class CFerrowickApp : public CWinApp {
  public:
    CFerrowickApp();
    // Removes the unpacked set-up program; the launched installer is done with it.
    ~CFerrowickApp() override;

    // The installation: notices, staging, unpacking, the resource folder copy and the
    // launch of the installer. False when it stops early: silently when the payload
    // cannot be loaded or the staging archive cannot be written (exit status 1); with a
    // notice when another launcher is running (3), when items could not be unpacked (2),
    // or when the set-up program cannot be named safely on a command line (4).
    bool InitInstance() override;

    bool OnCommand(uint32_t id) override;

    // Copies every file below `sourceFolder` into `destinationFolder`, folders included,
    // replacing existing files and skipping "Thumbs.db". In copied file names every
    // `replaceFrom` becomes `replaceTo`. A file that cannot be copied gets a notice.
    void CopyResourceFolder(std::string replaceFrom, std::string replaceTo,
                            std::string sourceFolder, std::string destinationFolder);

    void OnAppAbout();

  private:
    // Another launcher was running: the set-up program it unpacked is its own.
    bool anotherRunning_ = false;
};
