// The resources a release engineer gives a launcher of its own: the icon (the first icon
// group and the icon resources it lists) and the version resource's strings and numbers.
// Changed in a resource tree before it is laid out anew, and read back for the check.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "pe/IconGroup.h"
#include "pe/PeImage.h"
#include "pe/ResourceTree.h"
#include "pe/VersionInfo.h"

namespace fw::pe {

// A version string to set: key and value, UTF-8.
using VersionSetting = std::pair<std::string, std::string>;

// What a launcher written anew changes beyond its payload; nothing when empty.
struct ResourceEdits {
    std::vector<IconImage> icon;          // the new icon's images, all of them
    std::vector<VersionSetting> version;  // in the order given; a later one wins
    bool empty() const { return icon.empty() && version.empty(); }
};

// Why a setting cannot be made (text that is no UTF-8, a FileVersion or ProductVersion
// that is not version numbers), or empty.
std::string versionSettingProblem(const VersionSetting& setting);

// Replaces the first icon group by one of `images`, and the icon resources only it listed
// by theirs; a tree without an icon group gets one. Why it cannot, or empty.
std::string replaceIcon(const ReadAt& read, ResourceDirectory& root,
                        const std::vector<IconImage>& images);

// Sets the strings in every language of the version resource (made when there is none),
// and the fixed numbers from FileVersion and ProductVersion. Why it cannot, or empty.
std::string changeVersion(const ReadAt& read, ResourceDirectory& root,
                          const std::vector<VersionSetting>& settings);

// What the check tells of a launcher's icon and version.
struct Looks {
    std::vector<IconImage> icon;  // the first group's images, without their data
    bool hasVersion = false;
    VersionBlock version;
};

// Reads them from an image's resource tree; why they cannot be read, or empty.
std::string readLooks(const ReadAt& read, ResourceDirectory& root, Looks& looks);

}  // namespace fw::pe
