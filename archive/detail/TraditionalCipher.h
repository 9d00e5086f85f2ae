// The traditional ZIP encryption, decrypting side, keyed with the empty password.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fw::archive {

inline constexpr std::size_t kEncryptionHeaderSize = 12;

class TraditionalCipher {
  public:
    // The keys for the empty password: the initial keys, with no update.
    TraditionalCipher() = default;

    // Decrypts `size` bytes in place.
    void decrypt(unsigned char* data, std::size_t size);

  private:
    uint8_t streamByte() const;
    void update(uint8_t plain);

    uint32_t keys_[3] = {0x12345678, 0x23456789, 0x34567890};
};

// Decrypts the 12-byte header at the start of an item's data and tells whether its last
// byte matches `checkByte` (the high byte of the CRC-32, or of the DOS time when the
// sizes follow the data).
bool passesHeaderCheck(TraditionalCipher& cipher, unsigned char (&header)[kEncryptionHeaderSize],
                       uint8_t checkByte);

}  // namespace fw::archive
