#include "app/InstallPaths.h"

#include <algorithm>
#include <vector>

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
