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

// Everything below `folder`, a line per file or folder in path order, as two runs that
// unpack the same items must leave it: the path, a folder's mark, or a file's size and a
// hash of its bytes (of its size alone past 1 MB) and whether it is read-only, and a file's
// last-write time when it is older than `fresh` (a time an item gave it, not the moment it was
// written).
std::vector<std::string> treeLines(const std::string& folder,
                                   std::filesystem::file_time_type fresh);

}  // namespace fw::test
