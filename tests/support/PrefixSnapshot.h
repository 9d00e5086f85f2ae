// A picture of everything in a drive prefix, to show what a run touched: every file and
// folder with, for files, their bytes (their size, past 1 MB) and last-write time.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace fw::test {

struct PrefixEntry {
    bool folder = false;
    std::string contents;  // files only
    std::filesystem::file_time_type lastWrite;
    friend bool operator==(const PrefixEntry&, const PrefixEntry&) = default;
};

// Keyed by the path relative to the prefix, with '/' separators ("drive_c/Temp").
using PrefixSnapshot = std::map<std::string, PrefixEntry>;

PrefixSnapshot snapshotPrefix(const std::string& root);

// Paths added, removed or changed between two snapshots.
std::vector<std::string> changedPaths(const PrefixSnapshot& before, const PrefixSnapshot& after);

// The paths among `changed` that are neither one of `exactly` nor lie at or below one
// of `below`.
std::vector<std::string> outside(const std::vector<std::string>& changed,
                                 const std::vector<std::string_view>& exactly,
                                 const std::vector<std::string_view>& below);

}  // namespace fw::test
