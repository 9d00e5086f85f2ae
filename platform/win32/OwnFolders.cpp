// Folders that belong to the launcher: made with a protected access list of their own,
// or judged by their owner and access list when they are there already.
#include <windows.h>
// After <windows.h>, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/FolderSafety.h"
#include "platform/win32/Backend.h"
#include "platform/win32/Links.h"

namespace fw::win32 {

namespace {

// Who the process is: its user's SID for the access list it writes, and the SIDs it owns
// objects as, spelled as the system spells them in a descriptor's text.
struct Identity {
    bool known = false;
    std::string user;
    std::vector<std::string> runningAs;
};

// Memory that the security calls allocate with LocalAlloc.
template <typename T>
struct LocalMemory {
    T memory = nullptr;
    ~LocalMemory() {
        if (memory != nullptr) {
            LocalFree(memory);
        }
    }
};

struct Handle {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};

// `sid` as descriptor text has it: an alias where the system has one ("LA" for the
// machine's own administrator account, "BA"), else "S-1-...".
bool sddlSpelling(PSID sid, std::string& spelled) {
    SECURITY_DESCRIPTOR descriptor;
    LocalMemory<char*> text;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&descriptor, sid, FALSE) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(
            &descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION, &text.memory, nullptr)) {
        return false;
    }
    const std::string owner = text.memory;
    if (owner.rfind("O:", 0) != 0) {
        return false;
    }
    spelled = owner.substr(2);
    return true;
}

Identity readIdentity() {
    Identity identity;
    Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token.handle)) {
        return identity;
    }
    // The user, and the default owner of what the process makes: Administrators when it
    // runs elevated, which it then owns objects as.
    std::vector<std::string> runningAs;
    for (const TOKEN_INFORMATION_CLASS what : {TokenUser, TokenOwner}) {
        DWORD size = 0;
        GetTokenInformation(token.handle, what, nullptr, 0, &size);
        std::vector<unsigned char> buffer(size);
        if (size == 0 || !GetTokenInformation(token.handle, what, buffer.data(), size, &size)) {
            return identity;
        }
        const PSID sid = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                           : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
        std::string spelled;
        if (!sddlSpelling(sid, spelled)) {
            return identity;
        }
        if (what == TokenUser) {
            LocalMemory<char*> user;
            if (!ConvertSidToStringSidA(sid, &user.memory)) {
                return identity;
            }
            identity.user = user.memory;
            runningAs.push_back(spelled);
        } else if (canonicalSid(spelled) == canonicalSid("BA")) {
            runningAs.push_back(spelled);
        }
    }
    identity.runningAs = std::move(runningAs);
    identity.known = true;
    return identity;
}

const Identity& identity() {
    static const Identity known = readIdentity();
    return known;
}

// The launcher's own access list: protected, so that nothing is inherited from above.
std::string ownAccessList(const std::string& user, bool everyoneReads) {
    std::string sddl = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + ")";
    if (everyoneReads) {
        sddl += "(A;OICI;0x1200a9;;;BU)";  // read, list, run
    }
    return sddl;
}

// The owner and the access list of the open folder `folder`, judged.
bool judge(HANDLE folder, FolderSafety& safety) {
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    const SECURITY_INFORMATION asked = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    const DWORD error = GetSecurityInfo(folder, SE_FILE_OBJECT, asked, nullptr, nullptr, nullptr,
                                        nullptr, &descriptor.memory);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return false;
    }
    LocalMemory<char*> text;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.memory, SDDL_REVISION_1,
                                                              asked, &text.memory, nullptr)) {
        return false;
    }
    const std::optional<FolderSecurity> security = securityFromSddl(text.memory);
    if (!security) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return false;
    }
    safety = judgeFolder(*security, identity().runningAs);
    return true;
}

// Sets the access list of `ownList` on the open folder; Windows passes the change on to
// what the folder holds, as far as that inherits.
bool tighten(HANDLE folder, PSECURITY_DESCRIPTOR ownList) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    if (!GetSecurityDescriptorDacl(ownList, &present, &list, &defaulted)) {
        return false;
    }
    const DWORD error = SetSecurityInfo(
        folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
        nullptr, nullptr, list, nullptr);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

FolderVerdict existingFolder(const char* path, PSECURITY_DESCRIPTOR ownList) {
    // The folder itself, not what a link in its place leads to; with the right to change
    // its rules when the process has it (an owner always has).
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    constexpr DWORD kFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    Handle folder;
    const std::array<DWORD, 2> tried = {READ_CONTROL | WRITE_DAC, READ_CONTROL};
    for (const DWORD access : tried) {
        folder.handle =
            CreateFileA(path, access, kShareAll, nullptr, OPEN_EXISTING, kFlags, nullptr);
        if (folder.handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) {
            break;
        }
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (folder.handle == INVALID_HANDLE_VALUE ||
        !GetFileInformationByHandle(folder.handle, &info)) {
        return FolderVerdict::failed;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        SetLastError(ERROR_CANT_RESOLVE_FILENAME);
        return FolderVerdict::occupied;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FolderVerdict::occupied;
    }
    FolderSafety safety = FolderSafety::safe;
    if (!judge(folder.handle, safety)) {
        return FolderVerdict::failed;
    }
    return verdictOn(safety, safety == FolderSafety::ownButOpen && tighten(folder.handle, ownList));
}

}  // namespace

FolderVerdict makeOwnFolder(const char* path, bool everyoneReads) {
    const Identity& self = identity();
    if (!self.known) {
        return FolderVerdict::failed;
    }
    LocalMemory<PSECURITY_DESCRIPTOR> ownList;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            ownAccessList(self.user, everyoneReads).c_str(), SDDL_REVISION_1, &ownList.memory,
            nullptr)) {
        return FolderVerdict::failed;
    }
    if (!parentWithoutLinks(path)) {
        return FolderVerdict::failed;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, ownList.memory, FALSE};
    if (CreateDirectoryA(path, &attributes)) {
        return FolderVerdict::made;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
        return FolderVerdict::failed;
    }
    return existingFolder(path, ownList.memory);
}

}  // namespace fw::win32
