#include "archive/detail/ItemAttributes.h"

#include "platform/Platform.h"

namespace fw::archive {

uint32_t itemAttributes(uint32_t versionMadeBy, uint32_t external) {
    switch ((versionMadeBy >> 8) & 0xFF) {
        case 0:   // MS-DOS and OS/2 FAT
        case 7:   // Macintosh
        case 11:  // NTFS
        case 14:  // VFAT
            // The low byte is already a set of FAT attribute bits.
            return external &
                   (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive);
        default: {
            // The high half holds a Unix mode.
            constexpr uint32_t kOwnerWrite = 0x80u << 16;
            constexpr uint32_t kDirectoryType = 0x4000u << 16;
            uint32_t attributes = kAttrArchive;
            if (!(external & kOwnerWrite)) {
                attributes |= kAttrReadOnly;
            }
            if (external & kDirectoryType) {
                attributes |= kAttrDirectory;
            }
            return attributes;
        }
    }
}

}  // namespace fw::archive
