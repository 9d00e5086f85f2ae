// Payload resources for the application's tests: 54 prefix bytes ahead of a ZIP archive.
#pragma once

#include <string>
#include <vector>

#include "pack/ZipWriter.h"

namespace fw::test {

class TempPrefix;

// A payload resource holding an archive of `entries`, made in the prefix's folder.
std::string PayloadOf(const TempPrefix& prefix, const std::vector<zipwrite::Entry>& entries);

// Stored entries named `names`, each holding its own name as data.
std::vector<zipwrite::Entry> EntriesNamed(const std::vector<std::string>& names);

}  // namespace fw::test
