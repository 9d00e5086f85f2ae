#include "app/LaunchCommand.h"

#include "app/InstallPaths.h"
#include "platform/Mbcs.h"

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

bool HoldsControlCharacter(std::string_view text) {
    // No control character is ever the trail byte of a double-byte character.
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return true;
        }
    }
    return false;
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
    if (HoldsControlCharacter(topFolder) || LeavesTheUnpackFolder(topFolder)) {
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

std::optional<std::string> SetupProgramFor(std::string_view topFolder) {
    // A quote is never a trail byte either.
    if (topFolder.find('"') != std::string_view::npos || HoldsControlCharacter(topFolder) ||
        LeavesTheUnpackFolder(topFolder)) {
        return std::nullopt;
    }
    std::string program = std::string(kStagingFolder) + "\\";
    // '/' is never a trail byte: every one is a separator.
    for (char c : topFolder) {
        program += c == '/' ? '\\' : c;
    }
    if (!topFolder.empty()) {
        program += '\\';
    }
    return program + "SETUP.exe";
}
