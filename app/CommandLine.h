// The launcher's command line: its switches, and what it passes on to SETUP.exe.
//   [/S | /quiet] [/log FILE] [/? | /help] [-- ARGUMENTS FOR SETUP.exe]
// A switch may begin with '-' instead of '/' and is read in any letter case.
#pragma once

#include <optional>
#include <string>

#include "platform/Platform.h"

struct LaunchOptions {
    // /S or /quiet: no notices; what they would say goes to the log.
    bool silent = false;
    // /? or /help: the usage is shown and nothing else is done.
    bool help = false;
    // /log FILE, as given.
    std::optional<std::string> logFile;
    // Everything after "--", for SETUP.exe exactly as it stands in the command line.
    std::optional<std::string> setupArguments;
    // Why the command line cannot be used; empty when it can.
    std::string problem;
    // Why SETUP.exe cannot be given its arguments; empty when it can.
    std::string refusal;

    // SETUP.exe is started directly rather than through the command interpreter: under /S,
    // or when it is given arguments.
    bool startsSetupDirectly() const { return silent || setupArguments.has_value(); }
};

// Reads the arguments after the program's name, and takes what follows "--" for
// SETUP.exe. A log file in the staging or product folder is refused: what the
// installation writes there would overwrite it, or it them. What follows "--" is refused
// when it holds a control character or a character the code page cannot express, or is
// longer than a command line leaves room for.
LaunchOptions ReadCommandLine(const fw::ProcessCommandLine& commandLine);

// The command line for the log: each argument quoted where it is empty or holds a blank,
// then "--" and what follows it as it is.
std::string CommandLineText(const fw::ProcessCommandLine& commandLine);

// What /? shows; `program` is the executable's file name.
std::string UsageText(const std::string& program);
