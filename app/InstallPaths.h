// The fixed paths of the installation and the texts derived from the payload's item
// names and from the executable's location.
#pragma once

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
// The log of a run under /S without /log: beside the staging folder, never inside it.
inline constexpr const char* kDefaultLog = "C:\\Temp\\_Download\\Ferrowick.log";
// The single-instance lock: in the launcher's own folder, where nobody else can make it.
inline constexpr const char* kInstanceLock = "C:\\Temp\\_Download\\Ferrowick.lock";

// The folder before an item name's first backslash (or, with none, its first slash),
// less trailing white space; empty when the name has no separator.
std::string TopFolderOf(std::string_view itemName);

// The resource folder beside the executable whose help-file path is given, stepping over
// one trailing build folder named DEBUG or RELEASE in any letter case.
std::string ResourceFolderFrom(std::string_view helpFilePath);

// True when `path` names `folder` or something below it, both spelled as Windows reads
// them: letter case, either separator, "." and "..", and trailing dots and blanks make
// no difference; a path without a drive or root is taken from `currentDirectory`. (The
// same place spelled otherwise, by a short name or through a link, is not recognised.)
bool LiesWithin(std::string_view path, std::string_view folder, std::string_view currentDirectory);
