#include "app/FerrowickApp.h"

#include "app/AboutDialog.h"
#include "app/InstallPaths.h"
#include "platform/Platform.h"

CFerrowickApp::CFerrowickApp() : CWinApp(nullptr) {}

CFerrowickApp::~CFerrowickApp() {
    if (!anotherRunning_) {
        fw::os().removeFile(kUnpackedSetup);
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
