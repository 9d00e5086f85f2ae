// Reads one item's unpacked data: raw bytes from the archive file, decrypted when the
// item is encrypted, then copied (stored) or raw-inflated (deflated), with a running
// CRC-32 and an end-of-item flag.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

#include "archive/SeamFile.h"
#include "archive/TraditionalCipher.h"

namespace fw::archive {

inline constexpr std::size_t kPieceSize = 16384;

// What the stream needs to know of an item, from its central entry and local header.
struct ItemData {
    std::uint64_t dataOffset = 0;  // absolute offset of the first byte after the local header
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint32_t crc = 0;
    std::uint32_t flags = 0;  // general-purpose flags of the central entry
    std::uint32_t method = 0;
    std::uint32_t dosDateTime = 0;
};

// Negative results of a read.
inline constexpr int kReadFailed = -1;
inline constexpr int kReadBadPassword = -106;

struct Piece {
    std::int64_t count = 0;  // bytes delivered, or a negative result
    bool end = false;        // set in the call in which the last byte of the item arrives
};

class ItemStream {
  public:
    // `input` is a buffer of kPieceSize bytes for compressed input, owned by the caller.
    ItemStream(SeamFile& file, unsigned char* input) : file_(file), input_(input) {}
    ~ItemStream() { close(); }
    ItemStream(const ItemStream&) = delete;
    ItemStream& operator=(const ItemStream&) = delete;

    // False when the item cannot be read (unknown method, memory); every read then fails.
    bool open(const ItemData& item);
    // Delivers at most `capacity` bytes and never more than remain of the item's stated
    // size. Data that ends before that size yields a read of 0 bytes without `end`.
    Piece read(unsigned char* out, std::size_t capacity);
    // True once the whole stated size was delivered with a matching CRC-32.
    bool crcMatches() const { return ended_ && crc_ == item_.crc; }
    void close();

  private:
    Piece fail(int code);
    bool checkEncryptionHeader(int& code);
    std::int64_t fetch(unsigned char* to, std::size_t most);
    std::int64_t readStored(unsigned char* out, std::size_t want);
    std::int64_t readDeflated(unsigned char* out, std::size_t want);

    SeamFile& file_;
    unsigned char* input_;
    ItemData item_;
    z_stream zstream_{};
    bool open_ = false;
    bool inflating_ = false;
    bool encrypted_ = false;
    bool headerDone_ = false;
    bool streamEnded_ = false;
    bool ended_ = false;
    int error_ = 0;
    TraditionalCipher cipher_;
    std::uint64_t compressedLeft_ = 0;
    std::uint64_t uncompressedLeft_ = 0;
    std::uint32_t crc_ = 0;
};

}  // namespace fw::archive
