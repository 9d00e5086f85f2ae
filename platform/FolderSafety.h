// Whether a folder that the launcher keeps for itself is safe to use: nobody but the
// running user, the administrators and the system may change it or what is in it. Pure
// functions: the backends ask the system for the owner and the rules, and judge here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"  // FolderVerdict

namespace fw {

enum class FolderSafety {
    safe,          // owned by the running user, Administrators or SYSTEM; nobody else may change it
    ownButOpen,    // the running user's, but others may change it: the owner may tighten it
    foreignOwner,  // another user owns it
    openToOthers,  // not the running user's, and others may change it
};

// One entry of an access list, as far as the judgement needs it.
struct AccessEntry {
    bool allows = true;  // false for an entry that denies (it takes rights away, never adds)
    uint32_t rights = 0;
    std::string trustee;  // a SID, "S-1-..." (or an alias only the machine can resolve)
};

// The owner and the access list of a security descriptor.
struct FolderSecurity {
    std::string owner;
    bool hasAccessList = false;  // false: no list at all, which lets everyone do everything
    std::vector<AccessEntry> entries;
};

// Reads the owner and the access list ("O:" and "D:") of a security descriptor in SDDL
// text: rights as a number or as letter pairs, SIDs as "S-1-..." or as the machine-wide
// two-letter aliases, which become "S-1-..." (an alias that stands for an account of the
// machine or a domain, such as "LA", stays as it is). None for text that is no descriptor.
std::optional<FolderSecurity> securityFromSddl(std::string_view sddl);

// The SID as the judgement compares it: a machine-wide alias as "S-1-...".
std::string canonicalSid(std::string_view sid);

// The judgement over a descriptor. `runningAs` holds the SIDs that the running process
// owns objects as: its user, and Administrators when it runs elevated. Every entry that
// allows a change counts, also one that reaches only what the folder holds (inherit-only):
// a change is writing, adding, deleting, writing attributes, changing the rules or taking
// ownership. Entries for SYSTEM, Administrators, CREATOR OWNER, OWNER RIGHTS and
// `runningAs` change nothing here.
FolderSafety judgeFolder(const FolderSecurity& security, const std::vector<std::string>& runningAs);

// What becomes of an existing folder judged `safety`; `tightened` tells, for one that is
// the running user's and open, whether its owner has tightened it.
FolderVerdict verdictOn(FolderSafety safety, bool tightened);

// The judgement over POSIX owner and mode: root and `runningUser` may own it; group or
// others may not write it; and a folder of the running user's with any bit beyond
// `wanted` (the mode the launcher gives it) is to be tightened.
FolderSafety judgeFolderMode(uint32_t owner, uint32_t mode, uint32_t runningUser, uint32_t wanted);

}  // namespace fw
