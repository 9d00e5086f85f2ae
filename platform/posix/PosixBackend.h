// The POSIX backend's entries of the platform table. They behave as the Win32 calls
// would: drive paths under a prefix folder, case-insensitive lookup, ANSI code page
// names, read-only files, FILETIME stamps.
#pragma once

#include "platform/Platform.h"

namespace fw::posix {

// Where each call is: PosixFiles.cpp the files and folders (getFileAttributes to
// setFileAttributes, lastError) but the listings, in PosixFind.cpp (findFirst, findNext,
// findClose), and currentDirectory, in PosixPaths.cpp; PosixCodePage.cpp ansiCodePage and
// ansiFromUtf8; PosixTime.cpp the two time conversions; PosixCommand.cpp runCommand;
// PosixProcess.cpp the rest of the process.
FW_PLATFORM_CALLS(FW_PLATFORM_DECLARE)

}  // namespace fw::posix
