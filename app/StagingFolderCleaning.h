// Emptying the staging folder of what earlier runs left, so that the tree the set-up
// program sees is exactly the installer set of this run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What could not be removed, and the system's error.
struct Leftover {
    std::string path;
    uint32_t error = 0;
};

// Removes everything below `folder` (which stays), links themselves and never what they
// lead to; the first entry that cannot be removed, when one cannot.
std::optional<Leftover> EmptyFolder(const std::string& folder);

// The failure notice for a leftover that could not be removed.
std::string LeftoverNotice(const Leftover& leftover);
