#include "pe/ResourceEdits.h"

#include <memory>
#include <set>

#include "res/resource.h"

namespace fw::pe {

namespace {

// Icon groups and version resources are small; a larger one is not read.
constexpr uint32_t kLargestSmallResource = 1 << 20;
constexpr uint16_t kVersionId = 1;
constexpr uint16_t kLanguage = 0x0409;

ResourceDirectory& directoryOf(ResourceEntry& entry) {
    if (!entry.directory) {
        entry.directory = std::make_unique<ResourceDirectory>();
    }
    return *entry.directory;
}

// The first name under `type`, or `fallback` added when there is none.
ResourceEntry& firstName(ResourceDirectory& root, uint16_t type, uint16_t fallback) {
    ResourceDirectory& names = directoryOf(entryFor(root, resourceId(type)));
    return names.entries.empty() ? entryFor(names, resourceId(fallback)) : names.entries.front();
}

// The bytes of a leaf.
std::string leafBytes(const ReadAt& read, const ResourceData& data, std::string& bytes) {
    if (data.source == DataSource::held) {
        bytes = data.held;
        return {};
    }
    if (data.size > kLargestSmallResource) {
        return "its icon group or version resource is over 1 MiB";
    }
    bytes.assign(data.size, '\0');
    return read(bytes.data(), bytes.size(), data.fileOffset) ? std::string()
                                                             : "its resources cannot be read";
}

// A name's languages, each a leaf; a name without any gets one in English (US).
std::vector<ResourceEntry*> languagesOf(ResourceEntry& name) {
    ResourceDirectory& languages = directoryOf(name);
    if (languages.entries.empty()) {
        entryFor(languages, resourceId(kLanguage));
    }
    std::vector<ResourceEntry*> leaves;
    for (ResourceEntry& language : languages.entries) {
        if (!language.directory) {
            leaves.push_back(&language);
        }
    }
    return leaves;
}

// The icon ids that the groups list, each group's languages all read.
std::string listedIcons(const ReadAt& read, ResourceEntry& group, std::set<uint16_t>& ids) {
    for (ResourceEntry* language : languagesOf(group)) {
        std::string bytes;
        if (std::string problem = leafBytes(read, language->data, bytes); !problem.empty()) {
            return problem;
        }
        std::vector<IconImage> images;
        std::vector<uint16_t> listed;
        readIconGroup(bytes, images, listed);
        ids.insert(listed.begin(), listed.end());
    }
    return {};
}

void hold(ResourceData& data, std::string bytes) {
    data.source = DataSource::held;
    data.size = static_cast<uint32_t>(bytes.size());
    data.held = std::move(bytes);
}

}  // namespace

std::string versionSettingProblem(const VersionSetting& setting) {
    std::u16string text;
    if (!utf16FromUtf8(setting.first, text) || !utf16FromUtf8(setting.second, text)) {
        return "the version string " + setting.first + " is no UTF-8 text";
    }
    if ((setting.first == "FileVersion" || setting.first == "ProductVersion") &&
        !versionNumbers(setting.second)) {
        return setting.first + " \"" + setting.second +
               "\" is not a version: give up to four numbers from 0 to 65535, as 2.1.0.7";
    }
    return {};
}

std::string replaceIcon(const ReadAt& read, ResourceDirectory& root,
                        const std::vector<IconImage>& images) {
    ResourceEntry& group = firstName(root, kIconGroupType, IDR_MAINFRAME);
    std::set<uint16_t> replaced;
    std::set<uint16_t> kept;
    for (ResourceEntry& other : directoryOf(*findEntry(root, resourceId(kIconGroupType))).entries) {
        if (std::string problem = listedIcons(read, other, &other == &group ? replaced : kept);
            !problem.empty()) {
            return problem;
        }
    }
    const uint16_t language = directoryOf(group).entries.front().key.id;
    ResourceDirectory& icons = directoryOf(entryFor(root, resourceId(kIconType)));
    std::erase_if(icons.entries, [&](const ResourceEntry& icon) {
        return !icon.key.named() && replaced.count(icon.key.id) != 0 &&
               kept.count(icon.key.id) == 0;
    });
    std::vector<uint16_t> ids;
    uint16_t next = 1;
    for (const IconImage& image : images) {
        while (findEntry(icons, resourceId(next)) != nullptr) {
            if (next == 0xFFFF) {
                return "it has no icon ids left";
            }
            ++next;
        }
        ResourceEntry& icon = entryFor(icons, resourceId(next));
        hold(entryFor(directoryOf(icon), resourceId(language)).data, image.data);
        ids.push_back(next);
    }
    ResourceData data = firstLeaf(group)->data;
    hold(data, iconGroup(images, ids));
    group.directory->entries.clear();
    entryFor(*group.directory, resourceId(language)).data = std::move(data);
    return {};
}

std::string changeVersion(const ReadAt& read, ResourceDirectory& root,
                          const std::vector<VersionSetting>& settings) {
    for (ResourceEntry* language : languagesOf(firstName(root, kVersionType, kVersionId))) {
        std::string bytes;
        if (std::string problem = leafBytes(read, language->data, bytes); !problem.empty()) {
            return problem;
        }
        VersionBlock version = emptyVersionInfo();
        if (!bytes.empty()) {
            if (std::string problem = readVersionInfo(bytes, version); !problem.empty()) {
                return problem;
            }
        }
        for (const VersionSetting& setting : settings) {
            std::u16string key;
            std::u16string value;
            if (!utf16FromUtf8(setting.first, key) || !utf16FromUtf8(setting.second, value)) {
                return versionSettingProblem(setting);
            }
            setVersionString(version, key, value);
            if (setting.first == "FileVersion" || setting.first == "ProductVersion") {
                const auto numbers = versionNumbers(setting.second);
                if (!numbers) {
                    return versionSettingProblem(setting);
                }
                setFixedVersion(
                    version,
                    setting.first == "FileVersion" ? FixedVersion::file : FixedVersion::product,
                    *numbers);
            }
        }
        hold(language->data, encodeVersionInfo(version));
    }
    return {};
}

std::string readLooks(const ReadAt& read, ResourceDirectory& root, Looks& looks) {
    looks = Looks{};
    std::string bytes;
    ResourceEntry* groups = findEntry(root, resourceId(kIconGroupType));
    const ResourceEntry* group = groups && groups->directory && !groups->directory->entries.empty()
                                     ? firstLeaf(groups->directory->entries.front())
                                     : nullptr;
    if (group != nullptr) {
        if (std::string problem = leafBytes(read, group->data, bytes); !problem.empty()) {
            return problem;
        }
        std::vector<uint16_t> ids;
        if (!readIconGroup(bytes, looks.icon, ids)) {
            return "its icon group cannot be read";
        }
    }
    ResourceEntry* versions = findEntry(root, resourceId(kVersionType));
    const ResourceEntry* version = versions ? firstLeaf(*versions) : nullptr;
    if (version != nullptr) {
        if (std::string problem = leafBytes(read, version->data, bytes); !problem.empty()) {
            return problem;
        }
        if (std::string problem = readVersionInfo(bytes, looks.version); !problem.empty()) {
            return problem;
        }
        looks.hasVersion = true;
    }
    return {};
}

}  // namespace fw::pe
