// The judgement over a folder's owner and rules: real security descriptors, as Windows
// (and wine) print them, and POSIX owners and modes. Runs on both builds.
#include "platform/FolderSafety.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fw {
namespace {

// A user of a Windows 10 machine, another one, and that machine's TrustedInstaller.
const std::string kUser = "S-1-5-21-3623811015-3361044348-30300820-1013";
const std::string kOtherUser = "S-1-5-21-3623811015-3361044348-30300820-1014";
const std::string kGroup = "S-1-5-21-3623811015-3361044348-30300820-513";
const std::string kInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// The launcher's own access list, as the system prints it back.
const std::string kOwnList = "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + kUser + ")";
// What a folder made below C:\ inherits from a default Windows 10/11 C:\ (Authenticated
// Users may change everything below the root folder they made).
const std::string kInheritedFromDriveC =
    "D:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)"
    "(A;OICIIOID;SDGXGWGR;;;AU)";

const std::vector<std::string> kNotElevated = {kUser};
const std::vector<std::string> kElevated = {kUser, "BA"};

TEST(FolderSafetyTest, JudgesRealDescriptors) {
    struct Case {
        const char* what;
        std::string sddl;
        std::vector<std::string> runningAs;
        FolderSafety expected;
    };
    const Case cases[] = {
        {"default C:\\ itself, TrustedInstaller's",
         "O:" + kInstaller + "G:" + kInstaller +
             "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
             "(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)S:AI(ML;OINPIO;NW;;;HI)",
         kNotElevated, FolderSafety::foreignOwner},
        {"made below the default C:\\ by the running user",
         "O:" + kUser + "G:" + kGroup + kInheritedFromDriveC, kNotElevated,
         FolderSafety::ownButOpen},
        {"made below the default C:\\ when elevated, judged elevated",
         "O:BAG:" + kGroup + kInheritedFromDriveC, kElevated, FolderSafety::ownButOpen},
        {"made below the default C:\\ when elevated, judged not elevated",
         "O:BAG:" + kGroup + kInheritedFromDriveC, kNotElevated, FolderSafety::openToOthers},
        {"made below the default C:\\ by another user",
         "O:" + kOtherUser + "G:" + kGroup + kInheritedFromDriveC, kNotElevated,
         FolderSafety::foreignOwner},
        {"the launcher's own list", "O:" + kUser + "G:" + kGroup + kOwnList, kNotElevated,
         FolderSafety::safe},
        {"the product list, Users reading and running",
         "O:" + kUser + kOwnList + "(A;OICI;0x1200a9;;;BU)", kNotElevated, FolderSafety::safe},
        {"the own list plus Everyone with write", "O:" + kUser + kOwnList + "(A;OICI;FW;;;WD)",
         kNotElevated, FolderSafety::ownButOpen},
        {"the own list plus Everyone with modify, owned by Administrators",
         "O:BA" + kOwnList + "(A;OICI;0x1301bf;;;WD)", kNotElevated, FolderSafety::openToOthers},
        {"the own list, owned by another ordinary user", "O:" + kOtherUser + kOwnList, kNotElevated,
         FolderSafety::foreignOwner},
        {"the own list, owned by Administrators as when elevated", "O:BA" + kOwnList, kElevated,
         FolderSafety::safe},
        {"the own list, owned by Administrators, judged not elevated", "O:BA" + kOwnList,
         kNotElevated, FolderSafety::safe},
        {"the own list, owned by SYSTEM", "O:SY" + kOwnList, kNotElevated, FolderSafety::safe},
        {"the own list, owned by TrustedInstaller", "O:" + kInstaller + kOwnList, kNotElevated,
         FolderSafety::foreignOwner},
        {"owned by the machine's administrator account, by its alias",
         "O:LAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;LA)",
         {"LA"},
         FolderSafety::safe},
        {"no access list at all: everyone may do everything", "O:" + kUser + "D:NO_ACCESS_CONTROL",
         kNotElevated, FolderSafety::ownButOpen},
        {"no access list given", "O:" + kUser, kNotElevated, FolderSafety::ownButOpen},
        {"an empty protected list: the owner alone", "O:" + kUser + "D:P", kNotElevated,
         FolderSafety::safe},
        {"Authenticated Users may only add folders, as on C:\\ itself",
         "O:" + kUser + kOwnList + "(A;;LC;;;AU)", kNotElevated, FolderSafety::ownButOpen},
        {"Users may only change the rules", "O:BA" + kOwnList + "(A;;WD;;;BU)", kNotElevated,
         FolderSafety::openToOthers},
        {"Users may take ownership, by number", "O:BA" + kOwnList + "(A;;0x80000;;;BU)",
         kNotElevated, FolderSafety::openToOthers},
        {"Interactive users may delete what it holds", "O:BA" + kOwnList + "(A;;DT;;;IU)",
         kNotElevated, FolderSafety::openToOthers},
        {"an entry that reaches only what it holds still counts",
         "O:BA" + kOwnList + "(A;OICIIO;GA;;;BU)", kNotElevated, FolderSafety::openToOthers},
        {"a denying entry adds nothing", "O:BA" + kOwnList + "(D;OICI;FA;;;WD)", kNotElevated,
         FolderSafety::safe},
        {"CREATOR OWNER may do all to what it makes", "O:BA" + kOwnList + "(A;OICIIO;GA;;;CO)",
         kNotElevated, FolderSafety::safe},
        {"CREATOR GROUP stands for a whole group", "O:BA" + kOwnList + "(A;OICIIO;GA;;;CG)",
         kNotElevated, FolderSafety::openToOthers},
        {"a conditional entry is read as one that allows",
         "O:BA" + kOwnList + "(XA;OICI;FA;;;WD;(Member_of {SID(BA)}))", kNotElevated,
         FolderSafety::openToOthers},
        {"TrustedInstaller may change it", "O:" + kUser + kOwnList + "(A;;FA;;;" + kInstaller + ")",
         kNotElevated, FolderSafety::ownButOpen},
        // Wine makes a descriptor up from the Unix mode and owner.
        {"wine: a folder of mode 0755",
         "O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;"
         "S-1-5-21-0-0-0-1000)(A;OICI;0x1200a9;;;WD)",
         {"S-1-5-21-0-0-0-1000"},
         FolderSafety::safe},
        {"wine: a folder of mode 0777",
         "O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;"
         "S-1-5-21-0-0-0-1000)(A;OICI;0x1301ff;;;WD)",
         {"S-1-5-21-0-0-0-1000"},
         FolderSafety::ownButOpen},
        {"wine: a folder of another Unix user",
         "O:AND:(A;OICI;FA;;;SY)(A;OICI;FA;;;AN)(A;OICI;0x1200a9;;;WD)",
         {"S-1-5-21-0-0-0-1000"},
         FolderSafety::foreignOwner},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<FolderSecurity> security = securityFromSddl(c.sddl);
        ASSERT_TRUE(security) << c.sddl;
        EXPECT_EQ(judgeFolder(*security, c.runningAs), c.expected);
    }
}

TEST(FolderSafetyTest, ReadsOwnerAndAccessListAndRefusesWhatIsNoDescriptor) {
    const std::optional<FolderSecurity> read =
        securityFromSddl("O:BAG:SYD:PAI(A;OICI;FA;;;SY)(D;;0x40000;;;WD)(A;;GXGR;;;" + kUser + ")");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->owner, "S-1-5-32-544");
    ASSERT_TRUE(read->hasAccessList);
    ASSERT_EQ(read->entries.size(), 3u);
    EXPECT_EQ(read->entries[0].trustee, "S-1-5-18");
    EXPECT_EQ(read->entries[0].rights, 0x1F01FFu);
    EXPECT_FALSE(read->entries[1].allows);
    EXPECT_EQ(read->entries[1].trustee, "S-1-1-0");
    EXPECT_EQ(read->entries[2].rights, 0xA0000000u);
    EXPECT_EQ(read->entries[2].trustee, kUser);

    for (const std::string bad :
         {"X:BA", "O:", "O:ba", "O:BAD:(A;;FA;;)", "O:BAD:(A;;ZZ;;;WD)", "O:BAD:(A;;FA;;;WD",
          "O:BAD:(A;;FA;;;WD)junk", "O:BAD:(A;;0x1FFFFFFFF;;;WD)", "O:BAD:(;;FA;;;WD)"}) {
        EXPECT_FALSE(securityFromSddl(bad)) << bad;
    }
}

TEST(FolderSafetyTest, JudgesPosixOwnersAndModes) {
    constexpr uint32_t kRoot = 0;
    constexpr uint32_t kMe = 1000;
    constexpr uint32_t kOther = 1001;
    struct Case {
        uint32_t owner;
        uint32_t mode;
        uint32_t runningUser;
        uint32_t wanted;
        FolderSafety expected;
    };
    const Case cases[] = {
        {kMe, 0700, kMe, 0700, FolderSafety::safe},
        {kMe, 0500, kMe, 0700, FolderSafety::safe},
        {kMe, 0750, kMe, 0700, FolderSafety::ownButOpen},
        {kMe, 0777, kMe, 0700, FolderSafety::ownButOpen},
        {kMe, 02700, kMe, 0700, FolderSafety::ownButOpen},
        {kMe, 0755, kMe, 0755, FolderSafety::safe},
        {kMe, 0775, kMe, 0755, FolderSafety::ownButOpen},
        {kRoot, 0755, kMe, 0700, FolderSafety::safe},
        {kRoot, 0775, kMe, 0700, FolderSafety::openToOthers},
        {kRoot, 01777, kMe, 0700, FolderSafety::openToOthers},
        {kRoot, 0777, kRoot, 0700, FolderSafety::ownButOpen},
        {kOther, 0700, kMe, 0700, FolderSafety::foreignOwner},
        {kOther, 0770, kMe, 0700, FolderSafety::foreignOwner},
        {kOther, 0700, kRoot, 0700, FolderSafety::foreignOwner},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "owner " << c.owner << ", mode 0" << std::oct << c.mode
                                        << std::dec << ", running as " << c.runningUser);
        EXPECT_EQ(judgeFolderMode(c.owner, c.mode, c.runningUser, c.wanted), c.expected);
    }
}

}  // namespace
}  // namespace fw
