#include "app/InstallPaths.h"

#include "app/Text.h"
#include "platform/Mbcs.h"

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

std::optional<std::string> LaunchCommandFor(std::string_view topFolder) {
    if (topFolder.empty()) {
        return std::string(kUnpackPrefix) + "SETUP.exe";
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
            return "\"\"" + program + "\"\"";
        }
    }
    return program;
}
