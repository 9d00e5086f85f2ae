// The current directory, as GetCurrentDirectoryA gives it.
#include <windows.h>

#include <string>
#include <utility>

#include "platform/win32/Backend.h"

namespace fw::win32 {

bool currentDirectory(std::string& path) {
    // The first call tells the size with its NUL; the folder may change in between.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD need = GetCurrentDirectoryA(0, nullptr);
        if (need == 0) {
            return false;
        }
        std::string buffer(need, '\0');
        const DWORD got = GetCurrentDirectoryA(need, buffer.data());
        if (got == 0) {
            return false;
        }
        if (got < need) {
            buffer.resize(got);
            path = std::move(buffer);
            return true;
        }
    }
    return false;
}

}  // namespace fw::win32
