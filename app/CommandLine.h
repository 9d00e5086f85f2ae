// The launcher's command line: its switches, and what it passes on to SETUP.exe.
//   [/S | /quiet] [/log FILE] [/? | /help] [-- ARGUMENTS FOR SETUP.exe]
// A switch may begin with '-' instead of '/' and is read in any letter case.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

struct LaunchOptions {
    // /S or /quiet: no notices; what they would say goes to the log.
    bool silent = false;
    // /? or /help: the usage is shown and nothing else is done.
    bool help = false;
    // /log FILE, as given.
    std::optional<std::string> logFile;
    // Everything after "--", for SETUP.exe.
    std::vector<std::string> setupArguments;
    // Why the command line cannot be used (exit status 5); empty when it can.
    std::string problem;
    // Why SETUP.exe cannot be given its arguments (exit status 4); empty when it can.
    std::string refusal;
};

// Reads the arguments after the program's name. A log file in the staging or product
// folder is refused: what the installation writes there would overwrite it, or it them.
LaunchOptions ReadCommandLine(const std::vector<fw::CommandArgument>& arguments);

// The arguments as one line for the log, each quoted where it is empty or holds a blank.
std::string CommandLineText(const std::vector<fw::CommandArgument>& arguments);

// What /? shows; `program` is the executable's file name.
std::string UsageText(const std::string& program);
