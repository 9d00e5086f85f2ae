#include "app/CommandLine.h"

#include <array>
#include <string_view>

#include "app/ExitStatus.h"
#include "app/InstallPaths.h"
#include "app/LaunchCommand.h"
#include "app/Text.h"
#include "platform/Mbcs.h"

namespace {

// One row per switch: reading the command line and the usage both go by this table, so
// that a new switch is one row (and the field it sets).
struct SwitchRow {
    std::array<const char*, 2> names;                  // as the usage spells them, no '/'
    bool LaunchOptions::*flag;                         // set by the switch, or
    std::optional<std::string> LaunchOptions::*value;  // the value that follows it,
    const char* valueName;                             // named so in the usage
    const char* valueWords;                            // and so when it is missing
    const char* usage;
};

constexpr SwitchRow kSwitches[] = {
    {{"S", "quiet"},
     &LaunchOptions::silent,
     nullptr,
     nullptr,
     nullptr,
     "No notices: what they would say goes to the log. SETUP.exe is started without a "
     "console window, and once it has run, the run ends with SETUP.exe's own exit "
     "status."},
    {{"log", nullptr},
     nullptr,
     &LaunchOptions::logFile,
     "FILE",
     "the name of the log file",
     "Writes a log of the run to FILE, whose folder must exist. Under /S without /log "
     "the log is C:\\Temp\\_Download\\Ferrowick.log."},
    {{"?", "help"}, &LaunchOptions::help, nullptr, nullptr, nullptr, "Shows this."},
};

// The row of the switch `argument` is, or null: for no switch at all (no leading '/' or
// '-'), and for a switch that is not this program's (`unknown` then true).
const SwitchRow* SwitchOf(std::string_view argument, bool& unknown) {
    unknown = false;
    if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-')) {
        return nullptr;
    }
    const std::string_view name = argument.substr(1);
    for (const SwitchRow& row : kSwitches) {
        for (const char* known : row.names) {
            if (known != nullptr && EqualsUpperCased(name, UpperCased(known))) {
                return &row;
            }
        }
    }
    unknown = true;
    return nullptr;
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

// The characters of ANSI text: a double-byte character is one, as CreateProcess counts.
std::size_t CharacterCount(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++count) {
        i += fw::mbcs::isLeadByte(fw::os().ansiCodePage(), static_cast<unsigned char>(text[i])) &&
                     i + 1 < text.size()
                 ? 2
                 : 1;
    }
    return count;
}

// Why SETUP.exe cannot be given `tail`; empty when it can.
std::string WhyNotPassed(const fw::CommandArgument& tail) {
    if (!tail.expressible) {
        return "its arguments hold a character that this computer's code page cannot express";
    }
    // No control character is ever the trail byte of a double-byte character.
    for (char c : tail.text) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return "its arguments hold a control character, such as a line break or a tab";
        }
    }
    if (CharacterCount(tail.text) > kSetupArgumentsLimit) {
        return "its arguments are longer than a command line can be";
    }
    return {};
}

}  // namespace

LaunchOptions ReadCommandLine(const fw::ProcessCommandLine& commandLine) {
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
    const std::vector<fw::CommandArgument>& arguments = commandLine.arguments;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const fw::CommandArgument& argument = arguments[i];
        if (!argument.expressible) {
            problem(notExpressible(i));
            continue;
        }
        bool unknown = false;
        const SwitchRow* row = SwitchOf(argument.text, unknown);
        if (row == nullptr) {
            problem(Quoted(argument.text) + (unknown ? " is not a switch of this program"
                                                     : " is not a switch of this program (what "
                                                       "SETUP.exe is to be given follows --)"));
            continue;
        }
        if (row->flag != nullptr) {
            options.*(row->flag) = true;
            continue;
        }
        // One of this program's switches after it means that its value was left out. (A
        // path may begin with '/' or '-'.)
        bool nextUnknown = false;
        const bool given = i + 1 < arguments.size() && !arguments[i + 1].text.empty() &&
                           (SwitchOf(arguments[i + 1].text, nextUnknown) == nullptr);
        std::optional<std::string>& value = options.*(row->value);
        if (!given) {
            problem(Quoted(argument.text) + " is not followed by " + row->valueWords);
        } else if (!arguments[++i].expressible) {
            problem(notExpressible(i));
        } else if (value) {
            problem(Quoted(argument.text) + " is given more than once");
        } else {
            value = arguments[i].text;
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
    if (commandLine.tail) {
        options.refusal = WhyNotPassed(*commandLine.tail);
        options.setupArguments = commandLine.tail->text;
    }
    return options;
}

std::string CommandLineText(const fw::ProcessCommandLine& commandLine) {
    std::string line;
    for (std::size_t i = 0; i < commandLine.arguments.size(); ++i) {
        if (i > 0) {
            line += ' ';
        }
        const fw::CommandArgument& argument = commandLine.arguments[i];
        if (!argument.expressible) {
            line += '<';
            line += Position(i);
            line += ": not in this computer's code page>";
        } else if (argument.text.empty() ||
                   argument.text.find_first_of(" \t") != std::string::npos) {
            line += '"';
            line += argument.text;
            line += '"';
        } else {
            line += argument.text;
        }
    }
    if (commandLine.tail) {
        line += line.empty() ? "--" : " --";
        if (!commandLine.tail->expressible) {
            line += " <not in this computer's code page>";
        } else if (!commandLine.tail->text.empty()) {
            line += ' ';
            line += commandLine.tail->text;
        }
    }
    return line;
}

std::string UsageText(const std::string& program) {
    std::string synopsis = program;
    std::string switches;
    for (const SwitchRow& row : kSwitches) {
        std::string name = std::string("/") + row.names[0];
        if (row.valueName != nullptr) {
            name += ' ';
            name += row.valueName;
        }
        synopsis += " [" + name + "]";
        if (row.names[1] != nullptr) {
            name += std::string(", /") + row.names[1];
        }
        switches += name + "\t" + row.usage + "\n";
    }
    return "Ferrowick " FERROWICK_VERSION
           " unpacks the installer set it carries, copies the product's resource folder "
           "and starts the installer's SETUP.exe.\n\n" +
           synopsis + " [-- ARGUMENTS FOR SETUP.exe]\n\n" + switches +
           "-- ...\tEverything after -- is passed on to SETUP.exe exactly as it stands.\n"
           "A switch may begin with - instead of /, in any letter case.\n\n"
           "Exit status (with notices / under /S):\n" +
           ExitStatusText();
}
