// One launcher at a time: a lock file opened with share mode 0 in a folder that only the
// launcher's user, the administrators and the system may write, so that nobody else can
// make the file and hold it first. The system removes it when the handle closes.
#include <windows.h>

#include <string>

#include "platform/win32/Backend.h"
#include "platform/win32/Links.h"

namespace fw::win32 {

namespace {

struct HeldLock {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string path;
};

HeldLock& heldLock() {
    static auto* const held = new HeldLock;
    return *held;
}

}  // namespace

bool claimSingleInstance(const char* lockFile) {
    HeldLock& held = heldLock();
    if (held.file != INVALID_HANDLE_VALUE) {
        if (held.path == lockFile) {
            return true;
        }
        releaseSingleInstance();
    }
    // A lock that cannot be had for any other reason than another holder lets this
    // launcher go on as it would alone.
    if (!writable(lockFile)) {
        return true;
    }
    const HANDLE file =
        CreateFileA(lockFile, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError() != ERROR_SHARING_VIOLATION;
    }
    held = HeldLock{file, lockFile};
    return true;
}

void releaseSingleInstance() {
    HeldLock& held = heldLock();
    if (held.file != INVALID_HANDLE_VALUE) {
        CloseHandle(held.file);
        held = HeldLock{};
    }
}

}  // namespace fw::win32
