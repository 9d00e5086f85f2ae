// How SETUP.exe is started: the command line that a run without arguments hands to the
// command interpreter, as it always has, and the program that a run under /S, or one
// that has arguments for SETUP.exe, starts directly.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// A command line for CreateProcess has at most 32767 characters with its end. SETUP.exe's
// quoted path, in a top folder whose name has fewer than 260 characters, takes less than
// 320 of them; the rest is for SETUP.exe's arguments.
inline constexpr std::size_t kProgramLineLimit = 32767;
inline constexpr std::size_t kSetupArgumentsLimit = kProgramLineLimit - 1 - 320;

// The command line that runs the unpacked installer's SETUP.exe through the command
// interpreter. A top folder with a blank or a character the interpreter treats specially
// is quoted, and the line quoted once more for the interpreter's "/c" to take off (only
// when the program is quoted: otherwise "/c" takes nothing off); one that no quoting
// makes safe (a '%' or '"', which expand or end the quotes, or a control character), or
// one that climbs out of the unpack folder, gives no command at all.
std::optional<std::string> LaunchCommandFor(std::string_view topFolder);

// The path of SETUP.exe in the top folder (in the staging folder itself when there is
// none), with backslashes, for starting it directly. None for a top folder that climbs
// out of the staging folder or holds a quote or a control character, which no program's
// path holds.
std::optional<std::string> SetupProgramFor(std::string_view topFolder);
