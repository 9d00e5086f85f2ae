#include "tests/app/TestPayload.h"

#include <stdexcept>

#include "tests/support/TempPrefix.h"

namespace fw::test {

std::string PayloadOf(const TempPrefix& prefix, const std::vector<zipwrite::Entry>& entries) {
    const std::string path = prefix.root() + "/payload.zip";
    std::string error;
    if (!zipwrite::writeArchive(path, entries, &error)) {
        throw std::runtime_error("cannot write a test archive: " + error);
    }
    // Any 54 bytes serve; these are not zeros so that a prefix leaking into the
    // staging archive shows.
    return std::string(54, 'B') + readHostFile(path);
}

std::vector<zipwrite::Entry> EntriesNamed(const std::vector<std::string>& names) {
    std::vector<zipwrite::Entry> entries;
    for (const std::string& name : names) {
        zipwrite::Entry e;
        e.name = name;
        e.data = name;
        e.deflate = false;
        entries.push_back(e);
    }
    return entries;
}

}  // namespace fw::test
