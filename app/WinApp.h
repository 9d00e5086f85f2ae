// The application-object part of the framework stand-in: one application object per
// process, its name, help-file path and command line, message boxes captioned with that
// name, and the entry that runs the object's start-up.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"  // fw::ProcessCommandLine
#include "res/resource.h"       // IDOK, AFX_IDS_APP_TITLE (the application's title)

inline constexpr uint32_t MB_OK = 0x00000000;

class CWinApp {
  public:
    // A null name takes the name from string AFX_IDS_APP_TITLE.
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Per-instance start-up; false ends the application as a failed start.
    virtual bool InitInstance();

    // Command routing: true when the command was handled.
    virtual bool OnCommand(uint32_t id);

    // What AfxMessageBox does: shows the box, captioned with the application's name, and
    // gives the id of the button that closed it.
    virtual int DoMessageBox(const std::string& text, uint32_t type, uint32_t helpContext);

    // The caption of every message box.
    std::string m_pszAppName;
    // The executable's full path with its extension changed to ".HLP".
    std::string m_pszHelpFilePath;
    // The command line after the program's name, set by the entry before the start-up
    // runs.
    fw::ProcessCommandLine m_commandLine;
};

// The process's application object, or null when there is none.
CWinApp* AfxGetApp();

// A modal message box through the application object's DoMessageBox (captioned with
// its name; without an object, uncaptioned); returns IDOK.
int AfxMessageBox(const std::string& text, uint32_t type = MB_OK, uint32_t helpContext = 0);

// Sets the process's exit status, as posting the quit message does: the entry returns
// it once the start-up call has come back.
void AfxPostQuitMessage(int exitCode);

// Gives the application object the command line and runs InitInstance once. The exit
// status is the one the start-up posted; without one, 0 after a complete run, 1 after a
// failed start or when there is no application object.
int AfxWinMain(fw::ProcessCommandLine commandLine = {});

// The help-file path the framework derives from an executable's path.
std::string HelpFilePathFor(const std::string& modulePath);
