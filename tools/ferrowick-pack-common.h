// What the packer does the same on every system: its options, the ZIP check and the
// 54-byte prefix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "res/resource.h"

namespace fw::pack {

inline constexpr std::size_t kPrefixSize = FERROWICK_PAYLOAD_PREFIX_SIZE;

extern const char* const kUsage;

struct Options {
    std::string payload;
    std::string output;
    std::string stub;
    std::string prefix;
};

// Reads `size` bytes at `offset` in full; false otherwise.
using ReadAt = std::function<bool(void* buffer, std::size_t size, uint64_t offset)>;

// Parses the command line, reporting a bad one on standard error; an empty stub is
// replaced by `defaultStub`.
bool parseOptions(int argc, char** argv, const std::string& defaultStub, Options& options);

// The BMP file header and information header that the shipped payload begins with.
std::string defaultPrefix();

// Why the file is no complete ZIP archive whose end record closes it; empty if it is one.
std::string zipProblem(const ReadAt& readAt, uint64_t size);

// The prefix to put ahead of the archive: the default, or the given file's bytes, which
// must be exactly 54. Gives the reason on failure.
std::string loadPrefix(const std::string& path, std::string& prefix);

// The packer's main: parses the options, runs `pack` (which gives the reason it wrote
// nothing, or empty on success) and gives the exit status: 0, 1 refused, 2 usage.
int runPacker(int argc, char** argv, const std::string& defaultStub,
              const std::function<std::string(const Options&)>& pack);

}  // namespace fw::pack
