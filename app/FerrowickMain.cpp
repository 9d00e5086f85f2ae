// The one application object of the process, and the process entry.
#include "app/FerrowickApp.h"
#include "platform/posix/Backend.h"  // the process's own command line

namespace {

CFerrowickApp theApp;

}  // namespace

int main(int argc, char** argv) {
    return AfxWinMain(fw::posix::commandLine(argc, argv));
}
