#include "platform/FolderSafety.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>

namespace fw {

namespace {

// The SIDs whose aliases mean the same on every machine. The others ("LA" for the
// machine's own administrator account, "DU" for a domain's users) are compared as they
// are spelled: the backend spells the running user's SID with the system's own converter.
constexpr std::array<std::pair<std::string_view, std::string_view>, 48> kAliases = {{
    {"AA", "S-1-5-32-579"}, {"AC", "S-1-15-2-1"},
    {"AN", "S-1-5-7"},      {"AO", "S-1-5-32-548"},
    {"AS", "S-1-18-1"},     {"AU", "S-1-5-11"},
    {"BA", "S-1-5-32-544"}, {"BG", "S-1-5-32-546"},
    {"BO", "S-1-5-32-551"}, {"BU", "S-1-5-32-545"},
    {"CD", "S-1-5-32-574"}, {"CG", "S-1-3-1"},
    {"CO", "S-1-3-0"},      {"CY", "S-1-5-32-569"},
    {"ED", "S-1-5-9"},      {"ER", "S-1-5-32-573"},
    {"ES", "S-1-5-32-576"}, {"HA", "S-1-5-32-578"},
    {"HI", "S-1-16-12288"}, {"IS", "S-1-5-32-568"},
    {"IU", "S-1-5-4"},      {"LS", "S-1-5-19"},
    {"LU", "S-1-5-32-559"}, {"LW", "S-1-16-4096"},
    {"ME", "S-1-16-8192"},  {"MP", "S-1-16-8448"},
    {"MU", "S-1-5-32-558"}, {"NO", "S-1-5-32-556"},
    {"NS", "S-1-5-20"},     {"NU", "S-1-5-2"},
    {"OW", "S-1-3-4"},      {"PO", "S-1-5-32-550"},
    {"PS", "S-1-5-10"},     {"PU", "S-1-5-32-547"},
    {"RA", "S-1-5-32-575"}, {"RC", "S-1-5-12"},
    {"RD", "S-1-5-32-555"}, {"RE", "S-1-5-32-552"},
    {"RM", "S-1-5-32-580"}, {"RU", "S-1-5-32-554"},
    {"SI", "S-1-16-16384"}, {"SO", "S-1-5-32-549"},
    {"SS", "S-1-18-2"},     {"SU", "S-1-5-6"},
    {"SY", "S-1-5-18"},     {"UD", "S-1-5-84-0-0-0-0-0"},
    {"WD", "S-1-1-0"},      {"WR", "S-1-5-33"},
}};

constexpr std::string_view kSystem = "S-1-5-18";
constexpr std::string_view kAdministrators = "S-1-5-32-544";
constexpr std::string_view kCreatorOwner = "S-1-3-0";
constexpr std::string_view kOwnerRights = "S-1-3-4";

// Rights named by letter pairs in SDDL.
constexpr std::array<std::pair<std::string_view, uint32_t>, 28> kRightNames = {{
    {"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000}, {"GX", 0x20000000},
    {"RC", 0x00020000}, {"SD", 0x00010000}, {"WD", 0x00040000}, {"WO", 0x00080000},
    {"RP", 0x00000010}, {"WP", 0x00000020}, {"CC", 0x00000001}, {"DC", 0x00000002},
    {"LC", 0x00000004}, {"SW", 0x00000008}, {"LO", 0x00000080}, {"DT", 0x00000040},
    {"CR", 0x00000100}, {"FA", 0x001F01FF}, {"FR", 0x00120089}, {"FW", 0x00120116},
    {"FX", 0x001200A0}, {"KA", 0x000F003F}, {"KR", 0x00020019}, {"KW", 0x00020006},
    {"KX", 0x00020019}, {"NW", 0x00000001}, {"NR", 0x00000002}, {"NX", 0x00000004},
}};

// Writing or adding (data, entries, extended attributes, attributes), deleting the folder
// or what it holds, changing the rules, taking ownership; and the generic rights that
// include writing.
constexpr uint32_t kChangeRights = 0x00000002 | 0x00000004 | 0x00000010 | 0x00000040 | 0x00000100 |
                                   0x00010000 | 0x00040000 | 0x00080000 | 0x02000000 | 0x10000000 |
                                   0x40000000;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

// A section begins here: "O:", "G:", "D:" or "S:".
bool sectionAt(std::string_view text, std::size_t i) {
    return i + 1 < text.size() && text[i + 1] == ':' &&
           std::string_view("OGDS").find(text[i]) != std::string_view::npos;
}

// The SID at the front of `text` (S-1-5-... or two capitals), taken off it.
std::optional<std::string> takeSid(std::string_view& text) {
    std::size_t length = 0;
    if (text.starts_with("S-")) {
        length = 2;
        while (length < text.size() && (isDigit(text[length]) || text[length] == '-')) {
            ++length;
        }
    } else if (text.size() >= 2 && isUpper(text[0]) && isUpper(text[1])) {
        length = 2;
    } else {
        return std::nullopt;
    }
    std::string sid = canonicalSid(text.substr(0, length));
    text.remove_prefix(length);
    return sid;
}

// Rights as a number or as letter pairs; none at all (as in a resource attribute entry)
// is 0.
std::optional<uint32_t> rightsFrom(std::string_view text) {
    if (!text.empty() && isDigit(text[0])) {
        const std::string number(text);
        char* end = nullptr;
        const unsigned long long value = std::strtoull(number.c_str(), &end, 0);
        if (end != number.c_str() + number.size() || value > 0xFFFFFFFFull) {
            return std::nullopt;
        }
        return static_cast<uint32_t>(value);
    }
    uint32_t rights = 0;
    for (; text.size() >= 2; text.remove_prefix(2)) {
        const auto* named =
            std::find_if(kRightNames.begin(), kRightNames.end(),
                         [&](const auto& r) { return r.first == text.substr(0, 2); });
        if (named == kRightNames.end()) {
            return std::nullopt;
        }
        rights |= named->second;
    }
    return text.empty() ? std::optional<uint32_t>(rights) : std::nullopt;
}

// The fields of one entry: "type;flags;rights;object;inherited object;SID" and, for a
// conditional entry, its condition (which may hold ';' and parentheses of its own).
std::optional<AccessEntry> entryFrom(std::string_view text) {
    std::vector<std::string_view> fields;
    for (int field = 0; field < 5; ++field) {
        const std::size_t end = text.find(';');
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        fields.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    const std::size_t end = text.find(';');
    std::string_view sidText = text.substr(0, end);
    const std::optional<std::string> sid = takeSid(sidText);
    const std::optional<uint32_t> rights = rightsFrom(fields[2]);
    if (!sid || !sidText.empty() || !rights || fields[0].empty()) {
        return std::nullopt;
    }
    // Only a denying entry takes away; any other kind in an access list is read as one
    // that allows, which is never too lenient here.
    const bool denies = fields[0] == "D" || fields[0] == "OD" || fields[0] == "XD";
    return AccessEntry{!denies, *rights, *sid};
}

// The entries of an access list "flags(entry)(entry)..." up to the next section; `text`
// is left at that section.
bool readAccessList(std::string_view& text, FolderSecurity& security) {
    std::size_t i = 0;
    while (i < text.size() && (isUpper(text[i]) || text[i] == '_') && !sectionAt(text, i)) {
        ++i;
    }
    security.hasAccessList = text.substr(0, i).find("NO_ACCESS_CONTROL") == std::string_view::npos;
    text.remove_prefix(i);
    while (!text.empty() && text[0] == '(') {
        // The entry ends at its own closing parenthesis; a condition nests further ones,
        // and quoted text in it may hold any of them.
        int depth = 0;
        bool quoted = false;
        std::size_t end = 0;
        for (; end < text.size(); ++end) {
            const char c = text[end];
            if (c == '"') {
                quoted = !quoted;
            } else if (!quoted && c == '(') {
                ++depth;
            } else if (!quoted && c == ')' && --depth == 0) {
                break;
            }
        }
        if (end == text.size()) {
            return false;
        }
        const std::optional<AccessEntry> entry = entryFrom(text.substr(1, end - 1));
        if (!entry) {
            return false;
        }
        security.entries.push_back(*entry);
        text.remove_prefix(end + 1);
    }
    return true;
}

bool contains(const std::vector<std::string>& sids, std::string_view sid) {
    return std::any_of(sids.begin(), sids.end(),
                       [&](const std::string& s) { return canonicalSid(s) == sid; });
}

}  // namespace

std::string canonicalSid(std::string_view sid) {
    for (const auto& [alias, full] : kAliases) {
        if (alias == sid) {
            return std::string(full);
        }
    }
    return std::string(sid);
}

std::optional<FolderSecurity> securityFromSddl(std::string_view sddl) {
    FolderSecurity security;
    while (!sddl.empty()) {
        if (!sectionAt(sddl, 0)) {
            return std::nullopt;
        }
        const char section = sddl[0];
        sddl.remove_prefix(2);
        if (section == 'O' || section == 'G') {
            const std::optional<std::string> sid = takeSid(sddl);
            if (!sid) {
                return std::nullopt;
            }
            if (section == 'O') {
                security.owner = *sid;
            }
        } else {
            FolderSecurity list;
            if (!readAccessList(sddl, list)) {
                return std::nullopt;
            }
            if (section == 'D') {
                security.hasAccessList = list.hasAccessList;
                security.entries = std::move(list.entries);
            }
        }
    }
    return security;
}

FolderSafety judgeFolder(const FolderSecurity& security,
                         const std::vector<std::string>& runningAs) {
    const std::string owner = canonicalSid(security.owner);
    const bool ours = !owner.empty() && contains(runningAs, owner);
    if (!ours && owner != kSystem && owner != kAdministrators) {
        return FolderSafety::foreignOwner;
    }
    const auto trusted = [&](const std::string& trustee) {
        const std::string sid = canonicalSid(trustee);
        return sid == kSystem || sid == kAdministrators || sid == kCreatorOwner ||
               sid == kOwnerRights || contains(runningAs, sid);
    };
    const bool open =
        !security.hasAccessList ||
        std::any_of(security.entries.begin(), security.entries.end(), [&](const AccessEntry& e) {
            return e.allows && (e.rights & kChangeRights) != 0 && !trusted(e.trustee);
        });
    if (!open) {
        return FolderSafety::safe;
    }
    return ours ? FolderSafety::ownButOpen : FolderSafety::openToOthers;
}

FolderSafety judgeFolderMode(uint32_t owner, uint32_t mode, uint32_t runningUser, uint32_t wanted) {
    if (owner != 0 && owner != runningUser) {
        return FolderSafety::foreignOwner;
    }
    if (owner == runningUser) {
        return (mode & 07777 & ~wanted) != 0 ? FolderSafety::ownButOpen : FolderSafety::safe;
    }
    return (mode & 022) != 0 ? FolderSafety::openToOthers : FolderSafety::safe;
}

FolderVerdict verdictOn(FolderSafety safety, bool tightened) {
    switch (safety) {
        case FolderSafety::safe:
            return FolderVerdict::accepted;
        case FolderSafety::ownButOpen:
            return tightened ? FolderVerdict::tightened : FolderVerdict::failed;
        case FolderSafety::foreignOwner:
            return FolderVerdict::ownedByAnother;
        case FolderSafety::openToOthers:
            return FolderVerdict::changeableByOthers;
    }
    return FolderVerdict::failed;
}

}  // namespace fw
