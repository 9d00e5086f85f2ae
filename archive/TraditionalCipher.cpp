#include "archive/detail/TraditionalCipher.h"

#include <zlib.h>

namespace fw::archive {

namespace {

uint32_t crcStep(uint32_t crc, uint8_t byte) {
    static const z_crc_t* const table = get_crc_table();
    return static_cast<uint32_t>(table[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

}  // namespace

uint8_t TraditionalCipher::streamByte() const {
    const uint32_t temp = (keys_[2] & 0xFFFF) | 2;
    return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
}

void TraditionalCipher::update(uint8_t plain) {
    keys_[0] = crcStep(keys_[0], plain);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    keys_[2] = crcStep(keys_[2], static_cast<uint8_t>(keys_[1] >> 24));
}

void TraditionalCipher::decrypt(unsigned char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        const auto plain = static_cast<uint8_t>(data[i] ^ streamByte());
        update(plain);
        data[i] = plain;
    }
}

bool passesHeaderCheck(TraditionalCipher& cipher, unsigned char (&header)[kEncryptionHeaderSize],
                       uint8_t checkByte) {
    cipher.decrypt(header, kEncryptionHeaderSize);
    return header[kEncryptionHeaderSize - 1] == checkByte;
}

}  // namespace fw::archive
