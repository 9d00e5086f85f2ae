// Reads the current item's unpacked data through minizip, with an end-of-item flag.
//
// A plain item is opened, inflated and checked by minizip. An encrypted item is read
// raw through minizip (Debian builds it without decryption) and decrypted, inflated and
// checked here.
#pragma once

#include <unzip.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>

#include "archive/detail/TraditionalCipher.h"

namespace fw::archive {

inline constexpr std::size_t kPieceSize = 16384;

// What the stream needs to know of an item, from its central entry.
struct ItemData {
    std::uint64_t uncompressedSize = 0;
    std::uint32_t crc = 0;
    std::uint32_t flags = 0;  // general-purpose flags
    std::uint32_t method = 0;
    std::uint32_t dosDateTime = 0;
    bool zip64 = false;  // a size or the offset came from the central Zip64 block
    // Where the item lies, in the reader's positions: its local header's offset as
    // minizip may hold it (the Zip64 marker), the real one, and the end of its data.
    std::uint64_t claimedOffset = 0;
    std::uint64_t localHeaderOffset = 0;
    std::uint64_t dataEnd = 0;
};

// Negative results of a read besides minizip's own.
inline constexpr int kReadFailed = -1;
inline constexpr int kReadBadPassword = -106;

struct Piece {
    std::int64_t count = 0;  // bytes delivered, or a negative result
    bool end = false;        // set in the call in which the last byte of the item arrives
};

// True for an item whose data the stream decrypts itself.
bool isEncrypted(const ItemData& item);

class ItemStream {
  public:
    explicit ItemStream(unzFile container) : container_(container) {}
    ~ItemStream() { close(); }
    ItemStream(const ItemStream&) = delete;
    ItemStream& operator=(const ItemStream&) = delete;

    // Opens the container's current item. `raw` is a kPieceSize buffer for the input of an
    // encrypted deflated item, and may be null for any other. False when the item cannot
    // be read; every read then fails.
    bool open(const ItemData& item, unsigned char* raw);
    // Delivers at most `capacity` bytes and never more than remain of the item's stated
    // size. Data that ends before that size yields a read of 0 bytes without `end`.
    Piece read(unsigned char* out, std::size_t capacity);
    // Closes the item. False when its whole stated size was delivered and the CRC-32
    // differs from the stored one.
    bool close();

  private:
    Piece fail(int code);
    Piece readPlain(unsigned char* out, std::size_t capacity);
    Piece readCounted(unsigned char* out, std::size_t capacity);
    int checkEncryptionHeader();
    std::int64_t fetch(unsigned char* to, std::size_t most);
    std::int64_t readDeflated(unsigned char* out, std::size_t want);

    unzFile container_;
    unsigned char* raw_ = nullptr;
    ItemData item_;
    z_stream zstream_{};
    bool open_ = false;
    bool encrypted_ = false;
    bool counted_ = false;  // the stream keeps the count and the CRC-32 itself
    bool inflating_ = false;
    bool headerDone_ = false;
    bool inputDone_ = false;
    bool streamEnded_ = false;
    bool ended_ = false;
    int error_ = 0;
    TraditionalCipher cipher_;
    std::uint64_t uncompressedLeft_ = 0;
    std::uint32_t crc_ = 0;
};

}  // namespace fw::archive
