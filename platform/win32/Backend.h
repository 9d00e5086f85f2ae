// The Win32 backend's entries of the platform table: each one is the Win32 (or
// run-time library) call that its seam entry names, with no emulation; what writes
// first makes sure that no link is on its way (see Platform.h).
#pragma once

#include <vector>

#include "platform/Platform.h"

namespace fw::win32 {

// Where each call is, in files the POSIX backend mirrors: Files.cpp the files and folders
// (getFileAttributes to copyFile but makeOwnFolder and emptyFolder, appendText,
// setFileAttributes, lastError, errorText); OwnFolders.cpp makeOwnFolder;
// FolderEmptying.cpp emptyFolder; Find.cpp findFirst, findNext, findClose; Paths.cpp
// currentDirectory; CodePage.cpp ansiCodePage, ansiFromUtf8 and useAnsiMultibyteCodePage;
// Time.cpp systemTimeToFileTime, localFileTimeToFileTime; Process.cpp
// commandLineArguments, moduleFileName to dialogBox, writeStandardOutput, showUsage,
// processorCount, sleep; SingleInstance.cpp claimSingleInstance, releaseSingleInstance;
// Command.cpp runCommand, runHiddenCommand; Platform.cpp the table. LibrarySearch.cpp
// holds restrictLibrarySearch, for the process entry.
FW_PLATFORM_CALLS(FW_PLATFORM_DECLARE)

// Sets the run-time library's multibyte code page to the system's ANSI code page, as
// the program's start-up does; safe to call more than once.
void useAnsiMultibyteCodePage();

// The process's arguments after the program's name, as the system's own splitting of the
// command line gives them, in the ANSI code page: for the process entry.
std::vector<CommandArgument> commandLineArguments();

// DLLs that are loaded by name from now on are looked for in the system folder only,
// never in the launcher's own folder (a download folder, a network share) or the
// current one: for the process entry, before anything else.
void restrictLibrarySearch();

}  // namespace fw::win32
