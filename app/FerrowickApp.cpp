#include "app/FerrowickApp.h"

#include "app/AboutDialog.h"
#include "app/InstallPaths.h"
#include "platform/Platform.h"

CFerrowickApp::CFerrowickApp() : CWinApp(nullptr) {}

CFerrowickApp::~CFerrowickApp() {
    if (!stagingNotOurs_) {
        fw::os().removeFile(kUnpackedSetup);
    }
    // Only now: another launcher must not unpack before the set-up program has gone.
    if (holdsLock_) {
        fw::os().releaseSingleInstance();
    }
}

bool CFerrowickApp::OnCommand(uint32_t id) {
    if (id == ID_APP_ABOUT) {
        OnAppAbout();
        return true;
    }
    return CWinApp::OnCommand(id);
}

void CFerrowickApp::OnAppAbout() {
    CAboutDlg about;
    about.DoModal();
}
