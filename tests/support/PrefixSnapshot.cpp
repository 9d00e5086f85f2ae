#include "tests/support/PrefixSnapshot.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fw::test {

namespace fs = std::filesystem;

namespace {
constexpr std::uintmax_t kCompared = 1u << 20;
}  // namespace

PrefixSnapshot snapshotPrefix(const std::string& root) {
    PrefixSnapshot snapshot;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        PrefixEntry entry;
        entry.folder = it->is_directory();
        if (!entry.folder) {
            // Large files (unpacked data) are told apart by size and time alone, so a
            // snapshot never holds them in memory.
            const auto size = it->file_size(ec);
            if (size <= kCompared) {
                std::ifstream in(it->path(), std::ios::binary);
                entry.contents.assign(std::istreambuf_iterator<char>(in), {});
            } else {
                entry.contents = "size " + std::to_string(size);
            }
            entry.lastWrite = it->last_write_time(ec);
        }
        snapshot.emplace(fs::relative(it->path(), root).generic_string(), std::move(entry));
    }
    return snapshot;
}

std::vector<std::string> changedPaths(const PrefixSnapshot& before, const PrefixSnapshot& after) {
    std::vector<std::string> changed;
    for (const auto& [path, entry] : before) {
        const auto found = after.find(path);
        if (found == after.end() || !(found->second == entry)) {
            changed.push_back(path);
        }
    }
    for (const auto& [path, entry] : after) {
        if (!before.contains(path)) {
            changed.push_back(path);
        }
    }
    return changed;
}

std::vector<std::string> outside(const std::vector<std::string>& changed,
                                 const std::vector<std::string_view>& exactly,
                                 const std::vector<std::string_view>& below) {
    std::vector<std::string> result;
    for (const std::string& path : changed) {
        const std::string_view p = path;
        const bool allowed =
            std::find(exactly.begin(), exactly.end(), p) != exactly.end() ||
            std::any_of(below.begin(), below.end(), [p](std::string_view folder) {
                return p == folder || (p.starts_with(folder) && p.size() > folder.size() &&
                                       p[folder.size()] == '/');
            });
        if (!allowed) {
            result.push_back(path);
        }
    }
    return result;
}

std::vector<std::string> treeLines(const std::string& folder, fs::file_time_type fresh) {
    std::vector<std::string> lines;
    for (const auto& [path, entry] : snapshotPrefix(folder)) {
        std::string line = path;
        if (entry.folder) {
            line += " folder";
        } else {
            std::error_code ec;
            const auto permissions = fs::status(fs::path(folder) / path, ec).permissions();
            const bool readOnly = (permissions & fs::perms::owner_write) == fs::perms::none;
            uint64_t hash = 14695981039346656037ull;  // FNV-1a of the bytes
            for (const char c : entry.contents) {
                hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
            }
            line += " file " + std::to_string(entry.contents.size()) + " bytes, hash " +
                    std::to_string(hash) + (readOnly ? ", read-only" : "");
            if (entry.lastWrite < fresh) {
                line += " written " + std::to_string(entry.lastWrite.time_since_epoch().count());
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace fw::test
