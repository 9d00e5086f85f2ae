// The one seam through which the core (app/, archive/) reaches the operating system.
//
// It is a table of plain functions, like a file-system layer in an embedded database:
// a backend fills one table (platform/posix, platform/win32), and a test can put a
// table of its own over it that forwards to the real one and fails chosen calls.
//
// Every text that crosses the seam is bytes in the process's ANSI code page, exactly
// as the Win32 "A" functions take them. A backend that talks to a file system in
// another encoding converts at its own boundary, nowhere else.
//
// The I/O path. Each cache belongs to one layer and assumes only what that layer knows:
// - the archive reader (archive/detail/SeamFile.h) is the one read cache: two 64 KB
//   windows over the archive, for minizip's small reads of the directory and the local
//   headers; it reads each item's data itself, at offsets in 256 KB pieces past the
//   windows; it assumes the archive, opened for reading and shared with readers only,
//   does not change while it is open;
// - the POSIX backend (platform/posix/FileWrites.h) writes behind nothing: each write is
//   made on the caller's thread and returns its outcome, as WriteFile does into the
//   system's cache; a write of mapped bytes (a loaded resource) is copied file to file by
//   the kernel. Its one background work is the close that frees a large removed file.
// The Win32 backend caches nothing; the system's own cache does that work there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fw {

// Win32 file-attribute bits.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
// A symbolic link, a junction or another reparse point (in listings).
inline constexpr uint32_t kAttrReparsePoint = 0x400;
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;

// A FILETIME: 100-nanosecond intervals since 1601-01-01 00:00:00, low half first.
struct FileTime {
    uint32_t low = 0;
    uint32_t high = 0;
    constexpr uint64_t ticks() const { return (uint64_t{high} << 32) | low; }
    static constexpr FileTime fromTicks(uint64_t t) {
        return FileTime{static_cast<uint32_t>(t), static_cast<uint32_t>(t >> 32)};
    }
    friend constexpr bool operator==(const FileTime&, const FileTime&) = default;
};

// A SYSTEMTIME, field for field.
struct SystemTime {
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t dayOfWeek = 0;
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

// Open files and folder listings. -1 is the invalid value, as INVALID_HANDLE_VALUE is.
using FileHandle = std::intptr_t;
using FindHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;
inline constexpr FindHandle kInvalidFind = -1;

// One entry of a folder listing (of WIN32_FIND_DATA only these two are used).
struct FindEntry {
    std::string name;  // ANSI code page
    uint32_t attributes = 0;
};

// How a listing step ended: an entry, the normal end (ERROR_NO_MORE_FILES), or a failure.
enum class FindStep { entry, end, failed };

// A resource of the running executable's own image. `loaded` is false when it was not
// found or could not be loaded; the bytes stay valid for the life of the process.
struct Resource {
    bool loaded = false;
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

// One argument of the process's command line, in the ANSI code page. `expressible` is
// false when the argument holds a character that the code page cannot express: its text
// is then not what was given, and must not be used as if it were.
struct CommandArgument {
    std::string text;
    bool expressible = true;
};

// The process's command line as its entry hands it on: the arguments before the first
// argument "--" (written so, not quoted), each split and unquoted as the run-time library
// splits them, and the text after that "--" and the one blank that follows it, unsplit,
// exactly as it stands in the command line (absent without such a "--").
struct ProcessCommandLine {
    std::vector<CommandArgument> arguments;
    std::optional<CommandArgument> tail;
};

// How far a piece of work has come, or how large it is in all.
struct Progress {
    std::uint64_t items = 0;
    std::uint64_t bytes = 0;
};

// Win32 error codes that lastError gives and the core tells apart.
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorWriteProtect = 19;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorLockViolation = 33;
inline constexpr uint32_t kErrorHandleDiskFull = 39;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorBadExeFormat = 193;
inline constexpr uint32_t kErrorFilenameTooLong = 206;
// A link or junction stands where the launcher will not follow one.
inline constexpr uint32_t kErrorCantResolveFilename = 1921;

// Origins for seekFile, as FILE_BEGIN, FILE_CURRENT and FILE_END.
enum class SeekOrigin { begin, current, end };

// What became of a folder that the launcher keeps for itself (makeOwnFolder).
enum class FolderVerdict {
    made,                // it was missing and has been made
    accepted,            // it was there, and nobody else may change it
    tightened,           // it was there, the running user's and open to others: no longer
    ownedByAnother,      // refused: another user owns it
    changeableByOthers,  // refused: other users may change it or what it holds
    occupied,            // a file, or a link or junction, stands in its place
    failed,              // it could not be made, examined or tightened: lastError says why
};

// Threads: calls for different handles, and calls by name, may come from several threads
// at once; calls for one handle come from one thread at a time. lastError is each
// thread's own.
//
// Every call of the seam, once: X(result, name, (parameters)). This one list makes the
// Platform table, the backends' declarations and the fault layer's names and forwarding,
// so each call is found by its one name everywhere.
#define FW_PLATFORM_CALLS(X)                                                                   \
    /* --- files and folders ---------------------------------------------------------------   \
       What creates, changes or removes an entry (createDirectory, makeOwnFolder, createFile,  \
       removeFile, emptyFolder, the destination of copyFile, setFileAttributes) never goes     \
       through a symbolic link, junction or other reparse point below the drive's root folder, \
       nor writes into a file that has other hard links: the first is refused                  \
       (kErrorCantResolveFilename), the second gets a new file. Only regular files are opened  \
       or copied. */                                                                           \
    /* GetFileAttributesA: the attribute bits, or kInvalidAttributes when there is no such     \
       path. */                                                                                \
    X(uint32_t, getFileAttributes, (const char* path))                                         \
    /* CreateDirectoryA(path, NULL): one level; false when it exists already or cannot be      \
       made. */                                                                                \
    X(bool, createDirectory, (const char* path))                                               \
    /* One level that belongs to the launcher. Made with an access list of its own that        \
       inherits nothing: SYSTEM, Administrators and the running user have full control, and,   \
       with `everyoneReads`, Users may read and run what it holds (POSIX: mode 0700, or 0755). \
       One that exists is judged as platform/FolderSafety.h says: accepted, tightened to that  \
       list (or mode) when the running user owns it, or refused. */                            \
    X(FolderVerdict, makeOwnFolder, (const char* path, bool everyoneReads))                    \
    /* CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, NORMAL, NULL). */ \
    X(FileHandle, openFile, (const char* path))                                                \
    /* CreateFileA(path, GENERIC_WRITE [| GENERIC_READ], 0, NULL, CREATE_ALWAYS, attributes,   \
       NULL). An existing file is emptied; an existing read-only file is refused. */           \
    X(FileHandle, createFile, (const char* path, uint32_t attributes, bool alsoRead))          \
    /* ReadFile: the number of bytes read (0 at the end), or -1 on failure. */                 \
    X(std::int64_t, readFile, (FileHandle file, void* buffer, std::size_t count))              \
    /* ReadFile with an OVERLAPPED offset: reads at `offset`, so that threads may read one     \
       handle at once; where the file pointer is left is not said (Win32 moves it, POSIX       \
       does not). The count read (0 at or past the end), or -1. */                             \
    X(std::int64_t, readFileAt,                                                                \
      (FileHandle file, void* buffer, std::size_t count, std::uint64_t offset))                \
    /* WriteFile: true when all `count` bytes were written. */                                 \
    X(bool, writeFile, (FileHandle file, const void* data, std::size_t count))                 \
    /* SetFilePointer: the new position, or -1 on failure. */                                  \
    X(std::int64_t, seekFile, (FileHandle file, std::int64_t offset, SeekOrigin origin))       \
    /* SetFileTime; a null pointer, or a time of 0, leaves that time as it is. */              \
    X(bool, setFileTimes,                                                                      \
      (FileHandle file, const FileTime* creation, const FileTime* lastAccess,                  \
       const FileTime* lastWrite))                                                             \
    X(bool, closeFile, (FileHandle file))                                                      \
    /* The run-time library's remove(): a file only; a read-only file is refused. */           \
    X(bool, removeFile, (const char* path))                                                    \
    /* Removes everything below the folder `path`, which stays: files (read-only ones made     \
       writable first), folders with all they hold, and links and junctions themselves, never  \
       what they lead to; whatever their names, in the ANSI code page or not, reachable by a   \
       Win32 path or not. Stops at the first entry that cannot be removed: false, with         \
       `failed` its path (a character the code page lacks as '?') and lastError why. */        \
    X(bool, emptyFolder, (const char* path, std::string& failed))                              \
    /* CopyFileA(source, destination, FALSE): contents, attributes and last-write time. */     \
    X(bool, copyFile, (const char* source, const char* destination))                           \
    /* FindFirstFileA / FindNextFileA / FindClose. */                                          \
    X(FindHandle, findFirst, (const char* pattern, FindEntry& entry))                          \
    X(FindStep, findNext, (FindHandle find, FindEntry & entry))                                \
    X(void, findClose, (FindHandle find))                                                      \
    /* Appends `text` to the file `path` (made when missing) and closes it again, as plain     \
       text of the system: the bytes as they are, each '\n' as CR LF, on Windows; converted    \
       to UTF-8 by a backend whose file system is in UTF-8. Readers and other writers may      \
       have the file open meanwhile. A file with other hard links is refused, not written. */  \
    X(bool, appendText, (const char* path, const char* text))                                  \
    /* GetCurrentDirectoryA: a full path with a drive; false when it cannot be had. */         \
    X(bool, currentDirectory, (std::string & path))                                            \
    /* SetFileAttributesA: the read-only, hidden, system and archive bits of a file. */        \
    X(bool, setFileAttributes, (const char* path, uint32_t attributes))                        \
    /* GetLastError: why the last failed call of this thread failed, as a Win32 code. */       \
    X(uint32_t, lastError, ())                                                                 \
    /* FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM): the system's own words for an error that    \
       lastError gave, without a line end; false when the system has none. */                  \
    X(bool, errorText, (uint32_t error, std::string & text))                                   \
    /* --- text and time -------------------------------------------------------------------   \
       The process's ANSI code page (GetACP), which is also its multibyte code page. */        \
    X(uint32_t, ansiCodePage, ())                                                              \
    /* SystemTimeToFileTime: false for a time that is no valid calendar time. */               \
    X(bool, systemTimeToFileTime, (const SystemTime& system, FileTime& file))                  \
    /* LocalFileTimeToFileTime, with the time zone's current bias. */                          \
    X(bool, localFileTimeToFileTime, (const FileTime& local, FileTime& utc))                   \
    /* GetLocalTime: the local date and time now, to the millisecond. */                       \
    X(void, localTime, (SystemTime & now))                                                     \
    /* MultiByteToWideChar(CP_UTF8) then WideCharToMultiByte(CP_ACP), exactly: false for text  \
       that is no valid UTF-8 or holds a character the ANSI code page cannot express (nothing  \
       stands in for it, so two names never become one). */                                    \
    X(bool, ansiFromUtf8, (const char* utf8, std::string& ansi))                               \
    /* --- the process ---------------------------------------------------------------------   \
       GetModuleFileNameA(NULL): the executable's own full path. */                            \
    X(bool, moduleFileName, (std::string & path))                                              \
    /* FindResourceA / SizeofResource / LoadResource / LockResource on the own image. */       \
    X(Resource, findResource, (const char* name, const char* type))                            \
    /* LoadStringA on the own image: false when there is no such string. */                    \
    X(bool, loadString, (uint32_t id, std::string & text))                                     \
    /* MessageBoxA(NULL, text, caption, MB_OK): returns when the user has closed it. */        \
    X(void, messageBox, (const char* text, const char* caption))                               \
    /* DialogBoxParamA with a template of the own image: returns the id that ended it. */      \
    X(int, dialogBox, (uint32_t templateId))                                                   \
    /* system(): runs a command line through the command interpreter and waits for it. */      \
    X(int, runCommand, (const char* commandLine))                                              \
    /* CreateProcessA(program, "\"program\" arguments", ..., CREATE_NO_WINDOW): starts the     \
       program directly, no command interpreter in between, with `arguments` after its own     \
       quoted path exactly as they are, and waits for it. Its exit status, all 32 bits, goes   \
       to `status`; false when it cannot be started (lastError says why). */                   \
    X(bool, runProgram, (const char* program, const char* arguments, uint32_t& status))        \
    /* printf-style output on standard output. */                                              \
    X(void, writeStandardOutput, (const char* text))                                           \
    /* A program's usage, as a program of the system shows it: a message box (MB_OK) where     \
       programs have windows, standard output where they are started from a shell. */          \
    X(void, showUsage, (const char* text, const char* caption))                                \
    /* The processors this process may run on (GetProcessAffinityMask); at least 1. */         \
    X(uint32_t, processorCount, ())                                                            \
    /* Sleep. */                                                                               \
    X(void, sleep, (uint32_t milliseconds))                                                    \
    /* GetCurrentProcessId. */                                                                 \
    X(uint32_t, processId, ())                                                                 \
    /* A long piece of work that the user is to see going on: it begins (with a caption, the   \
       words for what is done, and its size in all), comes on (what is done so far), and       \
       ends. Where programs have windows, a small window shows it once the work has gone on    \
       for a second, and is gone when progressEnd returns; elsewhere one line that updates     \
       itself, on standard error when that is a terminal. One piece of work at a time. */      \
    X(void, progressBegin, (const char* caption, const char* what, const Progress& total))     \
    X(void, progressUpdate, (const Progress& done))                                            \
    X(void, progressEnd, ())                                                                   \
    /* One launcher at a time on this machine: opens the lock file `lockFile` (made when       \
       missing) so that no other process can hold it too (share mode 0; flock), until          \
       releaseSingleInstance or the end of the process, however it ends. False only when       \
       another process holds it; claiming it again in the same process succeeds. */            \
    X(bool, claimSingleInstance, (const char* lockFile))                                       \
    /* Gives the lock up and removes its file. */                                              \
    X(void, releaseSingleInstance, ())

// The table of the seam: one function pointer per call of FW_PLATFORM_CALLS. Tables are
// filled with designated initializers, so a missing or misplaced entry does not compile.
struct Platform {
// NOLINTNEXTLINE(bugprone-macro-parentheses): the arguments are a declaration's parts
#define FW_PLATFORM_MEMBER(result, name, parameters) result(*name) parameters;
    FW_PLATFORM_CALLS(FW_PLATFORM_MEMBER)
#undef FW_PLATFORM_MEMBER
};

// Declares a backend's functions, one per call, in the namespace where it is used.
// NOLINTNEXTLINE(bugprone-macro-parentheses): the arguments are a declaration's parts
#define FW_PLATFORM_DECLARE(result, name, parameters) result name parameters;

// The backend compiled into this build.
const Platform& hostPlatform();

// The table in force: the host platform unless a test has put another over it.
const Platform& os();

// Puts `table` in force (nullptr puts the host platform back). Returns the table it
// replaced, nullptr for the host platform, so that handing it back restores it.
const Platform* setPlatform(const Platform* table);

}  // namespace fw
