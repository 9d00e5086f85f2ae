// Where the process looks for DLLs that are loaded by name after it has started.
#include <windows.h>

#include "platform/win32/Backend.h"

namespace fw::win32 {

void restrictLibrarySearch() {
    // The system's own code loads DLLs by name later (for message boxes and their visual
    // styles, say); by default they would be looked for beside the executable first. A
    // failure leaves the default search, which is all there is to be had then.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace fw::win32
