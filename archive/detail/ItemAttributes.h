// The Win32 attribute bits of an item, from its central-directory entry.
#pragma once

#include <cstdint>

namespace fw::archive {

// `versionMadeBy` names the host system in its high byte; `external` is the entry's
// 32-bit external attributes. Only the bits 0x01 0x02 0x04 0x10 0x20 are ever set.
uint32_t itemAttributes(uint32_t versionMadeBy, uint32_t external);

}  // namespace fw::archive
