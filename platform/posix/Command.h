// The command interpreter of the POSIX backend: a command line is taken apart as the
// Windows command interpreter ("/c" with its quote rule, '^' escapes, the first command
// of the line) and the started program's run-time library would, the
// program is found through the drive mapping, and it is started directly (never
// through a shell), a Windows program through wine.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fw::posix {

// A command line taken apart: the program as written (its quotes removed) and its
// arguments. Bytes stay in the code page they were given in.
struct CommandLine {
    std::string program;
    std::vector<std::string> arguments;
};

// The program ends at the first blank or tab outside double quotes; the arguments
// follow, split by splitArguments.
CommandLine splitCommandLine(std::string_view line);

// Arguments as the run-time library splits them: quotes group, 2n backslashes before a
// quote are n backslashes and the quote groups, 2n+1 are n and a literal quote, "" inside
// quotes is a literal quote. A double-byte character of the ANSI code page is taken
// whole: its trail byte is never a backslash.
std::vector<std::string> splitArguments(std::string_view text);

// The arguments as a command line's text that splitArguments reads back as they are:
// each one quoted only when it is empty or holds a blank, a tab or a quote.
std::string joinArguments(const std::vector<std::string>& arguments);

// What a program file is, by its first bytes.
enum class ProgramKind { windows, script, elf, unknown };
ProgramKind programKindOf(std::string_view head);

// The "#!" line of a script: the interpreter and its one optional argument (the rest
// of the line, trimmed), as the kernel reads it. False when there is no interpreter.
bool parseInterpreterLine(std::string_view head, std::string& interpreter, std::string& argument);

// The host path of an executable file `name` in the folders of `searchPath` (a
// PATH-style list); empty when there is none.
std::string findOnSearchPath(std::string_view name, std::string_view searchPath);

}  // namespace fw::posix
