// The Win32 backend's checks that no symbolic link or junction stands in the way of a
// path it writes (see Platform.h); each sets ERROR_CANT_RESOLVE_FILENAME when one does.
#pragma once

#include <windows.h>

namespace fw::win32 {

// No level of `path`, itself included, is a link; `attributes` are its own.
bool attributesWithoutLinks(const char* path, DWORD& attributes);

// No level above `path` is a link.
bool parentWithoutLinks(const char* path);

// No level of `path` is a link, and a file there shares no hard link (it is removed).
bool writable(const char* path);

}  // namespace fw::win32
