// Little-endian numbers, as the file formats read and written here store every field
// (ZIP records, a Windows image's headers and resources): read from bytes, appended to
// bytes being built, and stored over bytes in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fw {

// The unsigned little-endian field of `bytes` bytes (1 to 8) at `p`.
constexpr std::uint64_t readLittle(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}

inline std::uint64_t readLittle(const char* p, int bytes) {
    return readLittle(reinterpret_cast<const unsigned char*>(p), bytes);
}

// Stores the low `bytes` bytes of `value` at `p`.
inline void storeLittle(char* p, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        p[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// Appends the low `bytes` bytes of `value` to `out`.
inline void appendLittle(std::string& out, std::uint64_t value, int bytes) {
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(bytes));
    storeLittle(out.data() + at, value, bytes);
}

// `value` as `bytes` little-endian bytes.
inline std::string little(std::uint64_t value, int bytes) {
    std::string out;
    appendLittle(out, value, bytes);
    return out;
}

}  // namespace fw
