// The fixed paths of the installation and the texts derived from the payload's item
// names and from the executable's location.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kStagingLevel1 = "C:\\Temp";
inline constexpr const char* kStagingLevel2 = "C:\\Temp\\_Download";
inline constexpr const char* kStagingFolder = "C:\\Temp\\_Download\\_UnZip";
inline constexpr const char* kStagingArchive = "C:\\Temp\\_Download\\_UnZip\\Morvanta.zip";
inline constexpr const char* kUnpackPrefix = "C:/Temp/_Download/_UnZip/";
inline constexpr const char* kProductParent = "C:\\Product_Released";
inline constexpr const char* kProductFolder = "C:\\Product_Released\\Pellmoor";
inline constexpr const char* kUnpackedSetup = "C:\\Temp\\_Download\\_UnZip\\disk1\\SETUP.EXE";
// The log of a run under /S without /log: beside the staging folder, never inside it.
inline constexpr const char* kDefaultLog = "C:\\Temp\\_Download\\Ferrowick.log";
// The single-instance lock: in the launcher's own folder, where nobody else can make it.
inline constexpr const char* kInstanceLock = "C:\\Temp\\_Download\\Ferrowick.lock";

// The command interpreter takes lines of at most 8191 characters. The launch command's
// program, the unpack prefix with a top folder of a name under 260 characters, takes less
// than 320 of them; the rest is for the arguments.
inline constexpr std::size_t kCommandLineLimit = 8191;
inline constexpr std::size_t kSetupArgumentsLimit = kCommandLineLimit - 320;

// The folder before an item name's first backslash (or, with none, its first slash),
// less trailing white space; empty when the name has no separator.
std::string TopFolderOf(std::string_view itemName);

// The resource folder beside the executable whose help-file path is given, stepping over
// one trailing build folder named DEBUG or RELEASE in any letter case.
std::string ResourceFolderFrom(std::string_view helpFilePath);

// The command line that runs the unpacked installer's SETUP.exe, with `arguments` after
// it. A top folder with a blank or a character the command interpreter treats specially
// is quoted, and the line quoted once more for the interpreter's "/c" to take off (only
// when the program is quoted: otherwise "/c" takes nothing off); one that no quoting
// makes safe (a '%' or '"', which expand or end the quotes, or a control character), or
// one that climbs out of the unpack folder, gives no command at all; as does an argument
// that cannot be passed, or a line longer than the interpreter takes.
std::optional<std::string> LaunchCommandFor(std::string_view topFolder,
                                            const std::vector<std::string>& arguments = {});

// Why `argument` cannot be passed to a program through the command interpreter; empty
// when it can.
std::string_view WhyArgumentCannotBePassed(std::string_view argument);

// `argument` as a command line through the interpreter's "/c" holds it, so that the
// program's run-time library splits it off as it is: quoted by that library's rule (only
// when it is empty or holds a blank), and every character the interpreter treats
// specially, the quotes included, escaped with '^', so that the interpreter never sees
// a quote and reads nothing as its own. None for what cannot be passed.
std::optional<std::string> ArgumentForCommandLine(std::string_view argument);

// True when `path` names `folder` or something below it, both spelled as Windows reads
// them: letter case, either separator, "." and "..", and trailing dots and blanks make
// no difference; a path without a drive or root is taken from `currentDirectory`. (The
// same place spelled otherwise, by a short name or through a link, is not recognised.)
bool LiesWithin(std::string_view path, std::string_view folder, std::string_view currentDirectory);
