// The Win32 backend's entries of the platform table: each one is the Win32 (or
// run-time library) call that its seam entry names, with no emulation; what writes
// first makes sure that no link is on its way (see Platform.h).
#pragma once

#include "platform/Platform.h"

namespace fw::win32 {

// Where each call is, in files the POSIX backend mirrors: Files.cpp the files and folders
// (getFileAttributes to copyFile but makeOwnFolder and emptyFolder, appendText,
// setFileAttributes, lastError, errorText); OwnFolders.cpp makeOwnFolder;
// FolderEmptying.cpp emptyFolder; Find.cpp findFirst, findNext, findClose; Paths.cpp
// currentDirectory; CodePage.cpp ansiCodePage, ansiFromUtf8 and useAnsiMultibyteCodePage;
// Time.cpp systemTimeToFileTime, localFileTimeToFileTime, localTime; Process.cpp
// commandLine, moduleFileName to dialogBox, writeStandardOutput, showUsage,
// processorCount, sleep, processId; SingleInstance.cpp claimSingleInstance,
// releaseSingleInstance; Command.cpp runCommand, runProgram; Progress.cpp progressBegin,
// progressUpdate, progressEnd; Platform.cpp the table. LibrarySearch.cpp holds
// restrictLibrarySearch, for the process entry.
FW_PLATFORM_CALLS(FW_PLATFORM_DECLARE)

// Sets the run-time library's multibyte code page to the system's ANSI code page, as
// the program's start-up does; safe to call more than once.
void useAnsiMultibyteCodePage();

// The process's command line as the system has it (GetCommandLineW), for the process
// entry: the arguments before the first "--" split as the system splits them, and the
// text after it as it stands, both in the ANSI code page.
ProcessCommandLine commandLine();

// DLLs that are loaded by name from now on are looked for in the system folder only,
// never in the launcher's own folder (a download folder, a network share) or the
// current one: for the process entry, before anything else.
void restrictLibrarySearch();

}  // namespace fw::win32
