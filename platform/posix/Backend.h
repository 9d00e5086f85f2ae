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
// systemTimeToFileTime, localFileTimeToFileTime, localTime; Process.cpp commandLine,
// moduleFileName to dialogBox, writeStandardOutput, showUsage, processorCount, sleep,
// processId; SingleInstance.cpp claimSingleInstance, releaseSingleInstance; Command.cpp
// runCommand, runProgram; Progress.cpp progressBegin, progressUpdate, progressEnd (and
// the line that a notice wipes, Progress.h); Platform.cpp the table. Only this backend
// has what those stand on: FolderNames (case-insensitive lookup), PrefixSetUp (the
// prefix made on first use), ResourceTable (the launcher image's resources), MappedFiles
// (where mapped bytes lie on disk) and FileWrites (how files are written and let go of,
// with the backend's thread contract).
FW_PLATFORM_CALLS(FW_PLATFORM_DECLARE)

// The process's command line for its entry, from main's arguments, which come in the file
// system's UTF-8: each converted to the ANSI code page (one the code page cannot express
// is marked so), and those after the first "--" joined into the text a Windows command
// line would hold after it, so that they reach a program started with it as they came.
ProcessCommandLine commandLine(int argc, const char* const* argv);

}  // namespace fw::posix
