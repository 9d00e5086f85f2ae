// The small installer set that the built launcher carries unless another payload is
// chosen: the items, their data, attributes and time stamps. The sample maker writes
// it; the tests compare what the launcher unpacked with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/ZipWriter.h"

namespace fw::sample {

struct SampleItem {
    std::string name;  // code page 936 bytes, "/" separators
    std::string data;
    bool deflate = true;
    uint32_t externalAttributes = 0x81800020;  // host NTFS, as the shipped payload
    int32_t modified = 0;                      // the "UT" times, seconds since 1970 UTC
    int32_t accessed = 0;
    int32_t created = 0;
};

// The items in archive order; the first is "disk1/DATA.TAG".
const std::vector<SampleItem>& sampleItems();

// The name of the set-up program's run record, beside the set-up program.
inline constexpr const char* kSetupLogName = "SETUP.LOG";

// The items as archive entries: host 11, a fixed DOS time, a "UT" block with all three
// times in the local extra field and with the modification time in the central one.
// `setupProgram`, when given, takes the place of the set-up script's bytes (a build for
// Windows carries a Windows program there).
std::vector<zipwrite::Entry> sampleEntries(const std::string* setupProgram = nullptr);

// The name of the set-up program item.
inline constexpr const char* kSetupItemName = "disk1/SETUP.EXE";

}  // namespace fw::sample
