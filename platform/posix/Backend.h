// The POSIX backend's entries of the platform table. They behave as the Win32 calls
// would: drive paths under a prefix folder, case-insensitive lookup, ANSI code page
// names, read-only files, FILETIME stamps.
#pragma once

#include "platform/Platform.h"

namespace fw::posix {

// Where each call is, in files the Win32 backend mirrors: Files.cpp the files and folders
// (getFileAttributes to copyFile but makeOwnFolder and emptyFolder, appendText,
// setFileAttributes, lastError, errorText); OwnFolders.cpp makeOwnFolder;
// FolderEmptying.cpp emptyFolder; Find.cpp findFirst, findNext, findClose; Paths.cpp
// currentDirectory; CodePage.cpp ansiCodePage, ansiFromUtf8; Time.cpp
// systemTimeToFileTime, localFileTimeToFileTime; Process.cpp moduleFileName to dialogBox,
// writeStandardOutput, showUsage, processorCount, sleep; SingleInstance.cpp
// claimSingleInstance, releaseSingleInstance; Command.cpp runCommand, runHiddenCommand;
// Platform.cpp the table. Only this backend has what those stand on: FolderNames
// (case-insensitive lookup), PrefixSetUp (the prefix made on first use), ResourceTable
// (the launcher image's resources), MappedFiles (where mapped bytes lie on disk) and
// FileWrites (how files are written and let go of, with the backend's thread contract).
FW_PLATFORM_CALLS(FW_PLATFORM_DECLARE)

}  // namespace fw::posix
