// The Win32 backend's entries of the platform table: each one is the Win32 (or
// run-time library) call that its seam entry names, with no emulation; what writes
// first makes sure that no link is on its way (see Platform.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace fw::win32 {

// Files and folders (Win32Files.cpp).
uint32_t getFileAttributes(const char* path);
bool createDirectory(const char* path);
FileHandle openFile(const char* path);
FileHandle createFile(const char* path, uint32_t attributes, bool alsoRead);
std::int64_t readFile(FileHandle file, void* buffer, std::size_t count);
bool writeFile(FileHandle file, const void* data, std::size_t count);
std::int64_t seekFile(FileHandle file, std::int64_t offset, SeekOrigin origin);
bool setFileTimes(FileHandle file, const FileTime* creation, const FileTime* lastAccess,
                  const FileTime* lastWrite);
bool closeFile(FileHandle file);
bool removeFile(const char* path);
bool copyFile(const char* source, const char* destination);
FindHandle findFirst(const char* pattern, FindEntry& entry);
FindStep findNext(FindHandle find, FindEntry& entry);
void findClose(FindHandle find);
bool currentDirectory(std::string& path);
bool setFileAttributes(const char* path, uint32_t attributes);
uint32_t lastError();

// Text and time (Win32Time.cpp).
uint32_t ansiCodePage();
bool systemTimeToFileTime(const SystemTime& system, FileTime& file);
bool localFileTimeToFileTime(const FileTime& local, FileTime& utc);
bool ansiFromUtf8(const char* utf8, std::string& ansi);

// The process (Win32Process.cpp).
bool moduleFileName(std::string& path);
Resource findResource(const char* name, const char* type);
bool loadString(uint32_t id, std::string& text);
void messageBox(const char* text, const char* caption);
int dialogBox(uint32_t templateId);
int runCommand(const char* commandLine);
void writeStandardOutput(const char* text);
void sleep(uint32_t milliseconds);
bool claimSingleInstance();

// Sets the run-time library's multibyte code page to the system's ANSI code page, as
// the program's start-up does; safe to call more than once.
void useAnsiMultibyteCodePage();

}  // namespace fw::win32
