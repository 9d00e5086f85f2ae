// Opens the About box through the application's own handler and prints what the modal
// loop ended with, for a driver that answers the window from outside: about-box
#include <cstdint>
#include <cstdio>

#include "app/FerrowickApp.h"
#include "platform/Platform.h"

namespace {

// Records the dialog's result on its way through the platform seam.
int lastResult = -1;
int (*hostDialogBox)(uint32_t) = nullptr;
int recordingDialogBox(uint32_t templateId) {
    lastResult = hostDialogBox(templateId);
    return lastResult;
}

}  // namespace

int main() {
    fw::Platform recording = fw::os();
    hostDialogBox = recording.dialogBox;
    recording.dialogBox = recordingDialogBox;
    const fw::Platform* previous = fw::setPlatform(&recording);
    {
        CFerrowickApp app;
        app.OnAppAbout();
    }
    fw::setPlatform(previous);
    std::printf("DoModal=%d\n", lastResult);
    return 0;
}
