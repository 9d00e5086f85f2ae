#include "app/InstallPaths.h"

#include <algorithm>
#include <cstdint>

#include "app/Text.h"
#include "platform/Mbcs.h"
#include "platform/Platform.h"

std::string TopFolderOf(std::string_view itemName) {
    std::size_t separator = fw::mbcs::find(itemName, '\\');
    if (separator == fw::mbcs::npos) {
        separator = fw::mbcs::find(itemName, '/');
    }
    if (separator == fw::mbcs::npos) {
        return {};
    }
    return TrimRight(std::string(itemName.substr(0, separator)));
}

std::string ResourceFolderFrom(std::string_view helpFilePath) {
    std::string folder(helpFilePath);
    const std::size_t file = fw::mbcs::rfind(folder, '\\');
    if (file != fw::mbcs::npos) {
        folder.erase(file);
    }
    const std::size_t last = fw::mbcs::rfind(folder, '\\');
    if (last != fw::mbcs::npos) {
        const std::string_view component = std::string_view(folder).substr(last + 1);
        if (EqualsUpperCased(component, "DEBUG") || EqualsUpperCased(component, "RELEASE")) {
            folder.erase(last);
        }
    }
    return folder + "\\res\\Pellmoor";
}

namespace {

// A component of dots (and blanks, which the file system drops from the end) names a
// parent folder: the program would lie outside the unpack folder.
bool LeavesTheUnpackFolder(std::string_view topFolder) {
    std::string_view rest = topFolder;
    for (;;) {
        const std::size_t separator = fw::mbcs::findSeparator(rest);
        const std::string_view component = rest.substr(0, separator);
        const bool onlyDotsAndBlanks = component.find_first_not_of(". ") == std::string_view::npos;
        if (onlyDotsAndBlanks && component.find("..") != std::string_view::npos) {
            return true;
        }
        if (separator == fw::mbcs::npos) {
            return false;
        }
        rest.remove_prefix(separator + 1);
    }
}

}  // namespace

std::optional<std::string> LaunchCommandFor(std::string_view topFolder,
                                            const std::vector<std::string>& arguments) {
    std::string tail;
    for (const std::string& argument : arguments) {
        const std::optional<std::string> passed = ArgumentForCommandLine(argument);
        if (!passed) {
            return std::nullopt;
        }
        tail += ' ' + *passed;
    }
    if (tail.size() > kSetupArgumentsLimit) {
        return std::nullopt;
    }
    if (topFolder.empty()) {
        return std::string(kUnpackPrefix) + "SETUP.exe" + tail;
    }
    const std::string program = std::string(kUnpackPrefix) + std::string(topFolder) + "/SETUP.exe";
    // Trail bytes of double-byte characters are no command characters: search per character.
    for (char c : std::string_view("%\"")) {
        if (fw::mbcs::find(topFolder, c) != fw::mbcs::npos) {
            return std::nullopt;
        }
    }
    for (char c : topFolder) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return std::nullopt;
        }
    }
    if (LeavesTheUnpackFolder(topFolder)) {
        return std::nullopt;
    }
    // Quoted, and the whole quoted once more: the command interpreter's "/c" takes off
    // the outer pair, as it takes off the first and the last quote of every line whose
    // quotes do not meet its narrow rule, and the inner pair holds the program together.
    for (char c : std::string_view(" &|<>^()!,;=")) {
        if (fw::mbcs::find(topFolder, c) != fw::mbcs::npos) {
            return "\"\"" + program + "\"" + tail + "\"";
        }
    }
    return program + tail;
}

std::string_view WhyArgumentCannotBePassed(std::string_view argument) {
    // Bytes are searched as they are: no control character and no '%' is ever the trail
    // byte of a double-byte character.
    for (char c : argument) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return "it holds a control character, such as a line break or a tab";
        }
    }
    // The interpreter expands %NAME% in quotes and out of them, and wine's interpreter
    // even through '^': no escape keeps a '%' as it is.
    if (argument.find('%') != std::string_view::npos) {
        return "it holds a '%', which the command interpreter would take for a variable";
    }
    return {};
}

std::optional<std::string> ArgumentForCommandLine(std::string_view argument) {
    if (!WhyArgumentCannotBePassed(argument).empty()) {
        return std::nullopt;
    }
    const uint32_t codePage = fw::os().ansiCodePage();
    const bool quoted = argument.empty() || argument.find(' ') != std::string_view::npos;
    std::string out = quoted ? "^\"" : "";
    // Backslashes are plain but before a quote, where the run-time library halves them.
    std::size_t backslashes = 0;
    for (std::size_t i = 0; i < argument.size();) {
        const bool pair = fw::mbcs::isLeadByte(codePage, static_cast<unsigned char>(argument[i])) &&
                          i + 1 < argument.size();
        const char c = argument[i];
        if (pair) {
            out.append(argument.substr(i, 2));
            backslashes = 0;
            i += 2;
            continue;
        }
        ++i;
        if (c == '\\') {
            out += c;
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes + 1, '\\');
            out += "^\"";
        } else {
            if (std::string_view("&|<>^()").find(c) != std::string_view::npos) {
                out += '^';
            }
            out += c;
        }
        backslashes = 0;
    }
    if (quoted) {
        out.append(backslashes, '\\');
        out += "^\"";
    }
    return out;
}

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Adds the components of `text` to `components` (whose first is the drive): "." is
// nothing, ".." goes up but never above the drive, and trailing dots and blanks go.
void AddComponents(std::vector<std::string>& components, std::string_view text) {
    for (;;) {
        const std::size_t separator = fw::mbcs::findSeparator(text);
        std::string component(text.substr(0, separator));
        if (component == "..") {
            if (components.size() > 1) {
                components.pop_back();
            }
        } else if (component != ".") {
            while (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
                component.pop_back();
            }
            // Upper-cased byte by byte: a component holding a lead byte never equals one
            // of the fixed folders' names anyway.
            if (!component.empty()) {
                components.push_back(UpperCased(component));
            }
        }
        if (separator == fw::mbcs::npos) {
            return;
        }
        text.remove_prefix(separator + 1);
    }
}

// The components of `path` as Windows reads them, the drive first (see LiesWithin);
// none for a path on a network share, or one that needs a current folder not given.
std::vector<std::string> ComponentsOf(std::string_view path, std::string_view currentDirectory) {
    for (std::string_view device : {"\\\\?\\", "\\\\.\\", "//?/", "//./"}) {
        if (path.substr(0, device.size()) == device) {
            path.remove_prefix(device.size());
            break;
        }
    }
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        return {};
    }
    const bool hasDrive = path.size() >= 2 && path[1] == ':';
    const bool currentHasDrive = currentDirectory.size() >= 2 && currentDirectory[1] == ':';
    const std::string_view rest = hasDrive ? path.substr(2) : path;
    std::vector<std::string> components;
    if (hasDrive && !(currentHasDrive &&
                      UpperCased(path.substr(0, 1)) == UpperCased(currentDirectory.substr(0, 1)))) {
        // Another drive than the current folder's: "D:x" is taken from its root.
        components.push_back(UpperCased(path.substr(0, 2)));
    } else if (currentHasDrive) {
        components.push_back(UpperCased(currentDirectory.substr(0, 2)));
        if (rest.empty() || !IsSeparator(rest[0])) {
            AddComponents(components, currentDirectory.substr(2));
        }
    } else {
        return {};
    }
    AddComponents(components, rest);
    return components;
}

}  // namespace

bool LiesWithin(std::string_view path, std::string_view folder, std::string_view currentDirectory) {
    const std::vector<std::string> inside = ComponentsOf(path, currentDirectory);
    const std::vector<std::string> outer = ComponentsOf(folder, currentDirectory);
    return !inside.empty() && !outer.empty() && inside.size() >= outer.size() &&
           std::equal(outer.begin(), outer.end(), inside.begin());
}
