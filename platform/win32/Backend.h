// The Win32 backend's entries of the platform table: each one is the Win32 (or
// run-time library) call that its seam entry names, with no emulation; what writes
// first makes sure that no link is on its way (see Platform.h).
#pragma once

#include "platform/Platform.h"

namespace fw::win32 {

// Where each call is, in files the POSIX backend mirrors: Files.cpp the files and folders
// (getFileAttributes to copyFile, appendText, setFileAttributes, lastError, errorText);
// Find.cpp findFirst, findNext, findClose; Paths.cpp currentDirectory; CodePage.cpp
// ansiCodePage, ansiFromUtf8 and useAnsiMultibyteCodePage; Time.cpp systemTimeToFileTime,
// localFileTimeToFileTime, localTime; Process.cpp commandLine, moduleFileName to
// dialogBox, writeStandardOutput, showUsage, sleep, processId, claimSingleInstance;
// Command.cpp runCommand, runProgram; Progress.cpp progressBegin, progressUpdate,
// progressEnd; Platform.cpp the table.
FW_PLATFORM_CALLS(FW_PLATFORM_DECLARE)

// Sets the run-time library's multibyte code page to the system's ANSI code page, as
// the program's start-up does; safe to call more than once.
void useAnsiMultibyteCodePage();

// The process's command line as the system has it (GetCommandLineW), for the process
// entry: the arguments before the first "--" split as the system splits them, and the
// text after it as it stands, both in the ANSI code page.
ProcessCommandLine commandLine();

}  // namespace fw::win32
