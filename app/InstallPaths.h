// The fixed paths of the installation and the texts derived from the payload's item
// names and from the executable's location.
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr const char* kStagingLevel1 = "C:\\Temp";
inline constexpr const char* kStagingLevel2 = "C:\\Temp\\_Download";
inline constexpr const char* kStagingFolder = "C:\\Temp\\_Download\\_UnZip";
inline constexpr const char* kStagingArchive = "C:\\Temp\\_Download\\_UnZip\\Morvanta.zip";
inline constexpr const char* kUnpackPrefix = "C:/Temp/_Download/_UnZip/";
inline constexpr const char* kProductParent = "C:\\Product_Released";
inline constexpr const char* kProductFolder = "C:\\Product_Released\\Pellmoor";
inline constexpr const char* kUnpackedSetup = "C:\\Temp\\_Download\\_UnZip\\disk1\\SETUP.EXE";

// The folder before an item name's first backslash (or, with none, its first slash),
// less trailing white space; empty when the name has no separator.
std::string TopFolderOf(std::string_view itemName);

// The resource folder beside the executable whose help-file path is given, stepping over
// one trailing build folder named DEBUG or RELEASE in any letter case.
std::string ResourceFolderFrom(std::string_view helpFilePath);

// The command line that runs the unpacked installer's SETUP.exe. A top folder with a
// blank or a character the command interpreter treats specially is quoted, and the
// quoted program quoted once more for the interpreter's "/c" to take off; one that no
// quoting makes safe (a '%' or '"', which expand or end the quotes, or a control
// character), or one that climbs out of the unpack folder, gives no command at all.
std::optional<std::string> LaunchCommandFor(std::string_view topFolder);
