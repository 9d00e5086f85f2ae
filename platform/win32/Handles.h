// The seam's file and listing handles are Win32 HANDLE values held as integers.
#pragma once

#include <windows.h>

#include <cstdint>

namespace fw::win32 {

inline HANDLE toHandle(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

inline std::intptr_t fromHandle(HANDLE h) {
    return reinterpret_cast<std::intptr_t>(h);
}

}  // namespace fw::win32
