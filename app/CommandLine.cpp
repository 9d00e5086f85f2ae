#include "app/CommandLine.h"

#include <string_view>

#include "app/InstallPaths.h"
#include "app/Text.h"

namespace {

enum class Switch { none, silent, log, help, unknown };

// What an argument before "--" is: a switch of this program, another switch, or no
// switch at all.
Switch SwitchOf(std::string_view argument) {
    if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-')) {
        return Switch::none;
    }
    const std::string_view name = argument.substr(1);
    if (EqualsUpperCased(name, "S") || EqualsUpperCased(name, "QUIET")) {
        return Switch::silent;
    }
    if (EqualsUpperCased(name, "LOG")) {
        return Switch::log;
    }
    if (name == "?" || EqualsUpperCased(name, "HELP")) {
        return Switch::help;
    }
    return Switch::unknown;
}

// Built by appending: GCC 12 at -O3 sees a false overlap in "'" + std::string&&.
std::string Quoted(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '\'';
    quoted += text;
    quoted += '\'';
    return quoted;
}

std::string Position(std::size_t index) {
    std::string position = "argument ";
    position += std::to_string(index + 1);
    return position;
}

}  // namespace

LaunchOptions ReadCommandLine(const std::vector<fw::CommandArgument>& arguments) {
    LaunchOptions options;
    // The first problem found is the one reported.
    const auto problem = [&](std::string why) {
        if (options.problem.empty()) {
            options.problem = std::move(why);
        }
    };
    const auto notExpressible = [](std::size_t index) {
        return Position(index) + " holds a character that this computer's code page cannot express";
    };
    std::size_t i = 0;
    for (; i < arguments.size(); ++i) {
        const fw::CommandArgument& argument = arguments[i];
        if (!argument.expressible) {
            problem(notExpressible(i));
            continue;
        }
        if (argument.text == "--") {
            ++i;
            break;
        }
        switch (SwitchOf(argument.text)) {
            case Switch::silent:
                options.silent = true;
                break;
            case Switch::help:
                options.help = true;
                break;
            case Switch::log: {
                // One of this program's switches or "--" after /log means that its file
                // was left out. (A path may begin with '/' or '-'.)
                const bool named = i + 1 < arguments.size() && !arguments[i + 1].text.empty() &&
                                   arguments[i + 1].text != "--" &&
                                   (SwitchOf(arguments[i + 1].text) == Switch::none ||
                                    SwitchOf(arguments[i + 1].text) == Switch::unknown);
                if (!named) {
                    problem(Quoted(argument.text) + " is not followed by the name of the log file");
                } else if (!arguments[++i].expressible) {
                    problem(notExpressible(i));
                } else if (options.logFile) {
                    problem(Quoted(argument.text) + " is given more than once");
                } else {
                    options.logFile = arguments[i].text;
                }
                break;
            }
            case Switch::unknown:
                problem(Quoted(argument.text) + " is not a switch of this program");
                break;
            case Switch::none:
                problem(Quoted(argument.text) +
                        " is not a switch of this program (what SETUP.exe is to be given "
                        "follows --)");
                break;
        }
    }
    if (options.logFile) {
        std::string currentDirectory;
        if (!fw::os().currentDirectory(currentDirectory)) {
            currentDirectory.clear();
        }
        for (const char* folder : {kStagingFolder, kProductFolder}) {
            if (options.logFile && LiesWithin(*options.logFile, folder, currentDirectory)) {
                problem("the log file " + Quoted(*options.logFile) + " would lie in " + folder +
                        ", which the installation fills");
                options.logFile.reset();
            }
        }
    }

    std::size_t length = 0;
    for (; i < arguments.size(); ++i) {
        const fw::CommandArgument& argument = arguments[i];
        if (!argument.expressible) {
            if (options.refusal.empty()) {
                options.refusal = "its " + notExpressible(i);
            }
            continue;
        }
        const std::string_view why = WhyArgumentCannotBePassed(argument.text);
        if (!why.empty() && options.refusal.empty()) {
            options.refusal = "its argument " + Quoted(argument.text) +
                              " cannot be passed to it on a command line: " + std::string(why);
        }
        if (why.empty()) {
            length += 1 + ArgumentForCommandLine(argument.text)->size();
        }
        options.setupArguments.push_back(argument.text);
    }
    if (length > kSetupArgumentsLimit && options.refusal.empty()) {
        options.refusal = "its arguments are longer than a command line can be";
    }
    return options;
}

std::string CommandLineText(const std::vector<fw::CommandArgument>& arguments) {
    std::string line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) {
            line += ' ';
        }
        const std::string& text = arguments[i].text;
        if (!arguments[i].expressible) {
            line += '<';
            line += Position(i);
            line += ": not in this computer's code page>";
        } else if (text.empty() || text.find_first_of(" \t") != std::string::npos) {
            line += '"';
            line += text;
            line += '"';
        } else {
            line += text;
        }
    }
    return line;
}

std::string UsageText(const std::string& program) {
    return "Ferrowick " FERROWICK_VERSION
           " unpacks the installer set it carries, copies the product's resource folder "
           "and starts the installer's SETUP.exe.\n\n" +
           program +
           " [/S] [/log FILE] [-- ARGUMENTS FOR SETUP.exe]\n\n"
           "/S, /quiet\tNo notices: what they would say goes to the log, and once SETUP.exe "
           "has run, the run ends with SETUP.exe's own exit status.\n"
           "/log FILE\tWrites a log of the run to FILE, whose folder must exist. Under /S "
           "without /log the log is C:\\Temp\\_Download\\Ferrowick.log.\n"
           "-- ...\t\tEverything after -- is passed on to SETUP.exe as it is.\n"
           "/?, /help\tShows this.\n"
           "A switch may begin with - instead of /, in any letter case.\n\n"
           "Exit status: 0 done; 1 the installer set could not be staged; 2 items could not "
           "be unpacked; 3 another launcher is running; 4 SETUP.exe could not be started "
           "safely (its folder's name, or an argument); 5 the command line cannot be used.\n";
}
