// libFuzzer target: arbitrary bytes as an archive, walked the way the installation
// sequence walks it (open, count, describe and extract every item below the staging
// folder, close), then once more in a scrambled order. After every input nothing may
// stand outside the staging folder; anything that does aborts the run.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <system_error>
#include <vector>

#include "archive/ArchiveReader.h"

namespace fs = std::filesystem;

namespace {

// Per-input bounds: enough items and bytes to reach every path of the reader, few
// enough that one input stays in the milliseconds.
constexpr int32_t kMaxItems = 256;
constexpr int32_t kMaxScrambled = 64;
constexpr uint32_t kMaxItemBytes = 1u << 20;

constexpr const char* kArchive = "C:\\fuzz\\input.zip";
constexpr const char* kUnpackPrefix = "C:/Temp/_Download/_UnZip/";

std::string prefixRoot;

void removePrefix() {
    std::error_code ignored;
    fs::remove_all(prefixRoot, ignored);
}

// A throw-away drive prefix for the whole process, in memory when the host has it.
void makePrefix() {
    const char* shm = "/dev/shm";
    std::error_code ec;
    const fs::path base = fs::is_directory(shm, ec) ? fs::path(shm) : fs::temp_directory_path();
    std::string pattern = (base / "ferrowick-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    prefixRoot = pattern;
    fs::create_directories(prefixRoot + "/drive_c/fuzz");
    fs::create_directories(prefixRoot + "/drive_c/work");
    setenv("FERROWICK_PREFIX", prefixRoot.c_str(), 1);
    // Relative paths resolve below C:\work, inside the prefix.
    fs::current_path(prefixRoot + "/drive_c/work");
    std::atexit(removePrefix);
}

bool writeInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen((prefixRoot + "/drive_c/fuzz/input.zip").c_str(), "wb");
    if (!f) {
        return false;
    }
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Everything in the prefix must be one of the fixed entries or lie below the staging folder.
void checkNothingEscaped() {
    const fs::path root(prefixRoot);
    const fs::path staging = root / "drive_c/Temp/_Download/_UnZip";
    const std::vector<fs::path> allowed = {
        root / "drive_c",
        root / "drive_c/fuzz",
        root / "drive_c/fuzz/input.zip",
        root / "drive_c/work",
        root / "drive_c/Temp",
        root / "drive_c/Temp/_Download",
        staging,
    };
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        const fs::path& p = it->path();
        if (p == staging) {
            it.disable_recursion_pending();
            continue;
        }
        if (std::find(allowed.begin(), allowed.end(), p) == allowed.end()) {
            std::fprintf(stderr, "written outside the staging folder: %s\n", p.c_str());
            std::abort();
        }
    }
}

void describeAndExtract(ArchiveHandle archive, int32_t index) {
    ArchiveItem item;
    if (GetArchiveItem(archive, index, item) != AR_OK) {
        std::string stored;  // what names an item whose description failed
        GetArchiveItemStoredName(archive, index, stored);
    }
    const std::string name(item.name, strnlen(item.name, sizeof item.name));
    if (name.size() >= sizeof item.name) {
        std::abort();  // the record's name must be NUL-terminated within its buffer
    }
    if (item.uncompressedSize > kMaxItemBytes) {
        return;
    }
    const std::string target = kUnpackPrefix + name;
    ExtractArchiveItem(archive, index, target.c_str());
}

// A permutation of 0..count-1 fixed by the input, so a crash replays exactly.
std::vector<int32_t> scrambled(int32_t count, const uint8_t* data, size_t size) {
    std::vector<int32_t> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    uint32_t state = 2166136261u;
    for (size_t i = 0; i < size; i += 61) {
        state = (state ^ data[i]) * 16777619u;
    }
    for (size_t i = order.size(); i > 1; --i) {
        state = state * 1664525u + 1013904223u;
        std::swap(order[i - 1], order[(state >> 8) % i]);
    }
    return order;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    makePrefix();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!writeInput(data, size)) {
        std::abort();
    }
    // The last byte picks the code page: 936 (double-byte names) or 1252.
    setenv("LC_ALL", size > 0 && (data[size - 1] & 1) ? "zh_CN.UTF-8" : "en_US.UTF-8", 1);

    ArchiveHandle archive = OpenArchive(kArchive);
    ArchiveItem item;
    GetArchiveItem(archive, -1, item);
    const int32_t count = archive ? item.index : 0;
    if (!archive && count != 0) {
        std::abort();  // the absent handle must report no items
    }
    const int32_t walked = std::min(count, kMaxItems);
    for (int32_t i = 0; i < walked; ++i) {
        describeAndExtract(archive, i);
    }
    const std::vector<int32_t> order = scrambled(std::min(count, kMaxScrambled), data, size);
    for (int32_t index : order) {
        describeAndExtract(archive, index);
        GetArchiveItem(archive, -1, item);
    }
    // Indices that are out of range must be refused without touching anything.
    for (int32_t bad : {-2, count, INT32_MAX}) {
        if (archive && (GetArchiveItem(archive, bad, item) != AR_BAD_ARGUMENT ||
                        ExtractArchiveItem(archive, bad, kUnpackPrefix) != AR_BAD_ARGUMENT)) {
            std::abort();
        }
    }
    CloseArchive(archive);

    checkNothingEscaped();
    std::error_code ignored;
    fs::remove_all(prefixRoot + "/drive_c/Temp", ignored);
    return 0;
}
