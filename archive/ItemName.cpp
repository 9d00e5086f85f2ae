#include "archive/detail/ItemName.h"

#include <cstring>

#include "platform/Mbcs.h"

namespace fw::archive {

namespace {

// Applies the first rule that fits; false when none does.
bool applyOneRule(std::string_view& name) {
    if (name.size() >= 2 && name[1] == ':') {  // a drive prefix such as C:
        name.remove_prefix(2);
        return true;
    }
    if (!name.empty() && (name[0] == '\\' || name[0] == '/')) {
        name.remove_prefix(1);
        return true;
    }
    // A parent step anywhere: keep only what follows its first occurrence. The search is
    // multibyte-aware, so a trail byte 0x5C never begins a match.
    for (std::string_view step : {"\\..\\", "\\../", "/../", "/..\\"}) {
        const std::size_t at = mbcs::findSubstring(name, step);
        if (at != mbcs::npos) {
            name.remove_prefix(at + step.size());
            return true;
        }
    }
    // A parent step at the very start would climb out of the target folder.
    if (name.starts_with("../") || name.starts_with("..\\")) {
        name.remove_prefix(3);
        return true;
    }
    if (name == "..") {
        name = {};
        return true;
    }
    return false;
}

}  // namespace

bool cleanItemName(std::string_view stored, char* out, std::size_t outSize) {
    if (outSize == 0) {
        return false;
    }
    std::string_view name = stored;
    while (applyOneRule(name)) {
    }
    if (name.size() >= outSize) {
        out[0] = '\0';
        return false;
    }
    if (!name.empty()) {
        std::memcpy(out, name.data(), name.size());
    }
    out[name.size()] = '\0';
    return true;
}

}  // namespace fw::archive
