// Bytes that look random and differ with the seed: data that does not compress, and
// in which a byte out of place, doubled or dropped shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fw::test {

inline std::string noise(std::size_t size, unsigned seed = 0) {
    std::string bytes(size, '\0');
    std::uint32_t x = 12345u + seed * 2654435761u;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

}  // namespace fw::test
