#include "app/WinApp.h"

#include <utility>

#include "app/ExitStatus.h"

#include "platform/Mbcs.h"
#include "platform/Platform.h"

namespace {

CWinApp* theApp = nullptr;
// The exit status posted by AfxPostQuitMessage during the start-up call, if any.
int postedExitCode = 0;
bool exitCodePosted = false;

// The executable's file name without its extension: the name of last resort.
std::string ExeBaseName(const std::string& modulePath) {
    const std::size_t slash = fw::mbcs::rfindSeparator(modulePath);
    std::string name = slash == fw::mbcs::npos ? modulePath : modulePath.substr(slash + 1);
    const std::size_t dot = fw::mbcs::rfind(name, '.');
    if (dot != fw::mbcs::npos) {
        name.erase(dot);
    }
    return name;
}

}  // namespace

std::string HelpFilePathFor(const std::string& modulePath) {
    const std::size_t slash = fw::mbcs::rfindSeparator(modulePath);
    const std::size_t dot = fw::mbcs::rfind(modulePath, '.');
    // A dot in a folder name is no extension of the file.
    const bool hasExtension = dot != fw::mbcs::npos && (slash == fw::mbcs::npos || dot > slash);
    return (hasExtension ? modulePath.substr(0, dot) : modulePath) + ".HLP";
}

CWinApp::CWinApp(const char* appName) {
    std::string modulePath;
    if (!fw::os().moduleFileName(modulePath)) {
        modulePath.clear();
    }
    m_pszHelpFilePath = HelpFilePathFor(modulePath);
    if (appName != nullptr) {
        m_pszAppName = appName;
    } else if (!fw::os().loadString(AFX_IDS_APP_TITLE, m_pszAppName)) {
        m_pszAppName = ExeBaseName(modulePath);
    }
    theApp = this;
}

CWinApp::~CWinApp() {
    if (theApp == this) {
        theApp = nullptr;
    }
}

bool CWinApp::InitInstance() {
    return true;
}

bool CWinApp::OnCommand(uint32_t) {
    return false;
}

CWinApp* AfxGetApp() {
    return theApp;
}

int CWinApp::DoMessageBox(const std::string& text, uint32_t, uint32_t) {
    fw::os().messageBox(text.c_str(), m_pszAppName.c_str());
    return IDOK;
}

int AfxMessageBox(const std::string& text, uint32_t type, uint32_t helpContext) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        fw::os().messageBox(text.c_str(), "");
        return IDOK;
    }
    return app->DoMessageBox(text, type, helpContext);
}

void AfxPostQuitMessage(int exitCode) {
    postedExitCode = exitCode;
    exitCodePosted = true;
}

int AfxWinMain(fw::ProcessCommandLine commandLine) {
    // The framework's failed start is the launcher's status of a run that could not stage.
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return ExitCode(ExitStatus::notStaged);
    }
    app->m_commandLine = std::move(commandLine);
    exitCodePosted = false;
    const bool started = app->InitInstance();
    if (exitCodePosted) {
        return postedExitCode;
    }
    return ExitCode(started ? ExitStatus::done : ExitStatus::notStaged);
}
