// The Windows process entry: a windowless GUI program whose entry is WinMain. It holds
// the one application object, as the POSIX entry does for its build.
#include "app/FerrowickApp.h"
#include "platform/win32/Backend.h"  // the process's own command line

// After the C++ headers: <mbctype.h> defines macros (_M1, _M2) that they use as names.
#include <mbctype.h>

namespace {

// Before every other initialisation of the program (the priority runs it ahead of all
// static objects): from here on the system looks for DLLs it loads by name in its own
// folder only, not beside the launcher.
[[gnu::constructor(101)]] void restrictLibrarySearchFirst() {
    fw::win32::restrictLibrarySearch();
}

// Runs before the application object is made (same file, earlier definition): the
// multibyte code page is the system's ANSI code page from the start, as the run-time
// library's own start-up would set it.
const int multibyteCodePage = _setmbcp(_MB_CP_ANSI);

CFerrowickApp theApp;

}  // namespace

// Declared here rather than through <windows.h>, whose MB_OK and IDOK macros would
// collide with the framework stand-in's constants.
struct HINSTANCE__;
extern "C" int __stdcall WinMain(HINSTANCE__*, HINSTANCE__*, char*, int) {
    (void)multibyteCodePage;
    // Read from the command line as the system has it, not from WinMain's copy in the
    // ANSI code page, where a character the code page lacks would stand as a '?'.
    return AfxWinMain(fw::win32::commandLine());
}
