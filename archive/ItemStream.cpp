#include "archive/ItemStream.h"

#include <algorithm>

namespace fw::archive {

namespace {
constexpr std::uint32_t kFlagEncrypted = 0x1;
constexpr std::uint32_t kFlagDataDescriptor = 0x8;
}  // namespace

bool ItemStream::open(const ItemData& item) {
    close();
    item_ = item;
    if (item.method != 0 && item.method != Z_DEFLATED) {
        return false;
    }
    if (item.method == Z_DEFLATED) {
        zstream_ = z_stream{};
        if (inflateInit2(&zstream_, -MAX_WBITS) != Z_OK) {
            return false;
        }
        inflating_ = true;
    }
    if (file_.seek(static_cast<std::int64_t>(item.dataOffset), SeekOrigin::begin) < 0) {
        close();
        return false;
    }
    encrypted_ = (item.flags & kFlagEncrypted) != 0;
    headerDone_ = !encrypted_;
    cipher_ = TraditionalCipher{};
    streamEnded_ = ended_ = false;
    error_ = 0;
    compressedLeft_ = item.compressedSize;
    uncompressedLeft_ = item.uncompressedSize;
    crc_ = crc32(0L, Z_NULL, 0);
    open_ = true;
    return true;
}

void ItemStream::close() {
    if (inflating_) {
        inflateEnd(&zstream_);
        inflating_ = false;
    }
    open_ = false;
}

Piece ItemStream::fail(int code) {
    error_ = code;
    return Piece{code, false};
}

// Reads up to `most` raw bytes of the item (never past its compressed size) and
// decrypts them. A short read of the archive file is a failure: the data was cut off.
std::int64_t ItemStream::fetch(unsigned char* to, std::size_t most) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(most, compressedLeft_));
    if (want == 0) {
        return 0;
    }
    const std::int64_t got = file_.read(to, want);
    if (got != static_cast<std::int64_t>(want)) {
        return kReadFailed;
    }
    compressedLeft_ -= want;
    if (encrypted_) {
        cipher_.decrypt(to, want);
    }
    return got;
}

bool ItemStream::checkEncryptionHeader(int& code) {
    unsigned char header[kEncryptionHeaderSize];
    if (compressedLeft_ < kEncryptionHeaderSize) {
        code = kReadFailed;
        return false;
    }
    const std::int64_t got = file_.read(header, kEncryptionHeaderSize);
    if (got != static_cast<std::int64_t>(kEncryptionHeaderSize)) {
        code = kReadFailed;
        return false;
    }
    compressedLeft_ -= kEncryptionHeaderSize;
    const auto check = static_cast<uint8_t>(
        (item_.flags & kFlagDataDescriptor) ? (item_.dosDateTime >> 8) & 0xFF : item_.crc >> 24);
    if (!passesHeaderCheck(cipher_, header, check)) {
        code = kReadBadPassword;
        return false;
    }
    headerDone_ = true;
    return true;
}

std::int64_t ItemStream::readStored(unsigned char* out, std::size_t want) {
    return fetch(out, want);
}

std::int64_t ItemStream::readDeflated(unsigned char* out, std::size_t want) {
    zstream_.next_out = out;
    zstream_.avail_out = static_cast<uInt>(want);
    while (zstream_.avail_out > 0 && !streamEnded_) {
        if (zstream_.avail_in == 0) {
            const std::int64_t got = fetch(input_, kPieceSize);
            if (got < 0) {
                return got;
            }
            // With no input left, inflate is still asked: it may hold output that did
            // not fit the last piece.
            zstream_.next_in = input_;
            zstream_.avail_in = static_cast<uInt>(got);
        }
        const int rc = inflate(&zstream_, Z_SYNC_FLUSH);
        if (rc == Z_STREAM_END) {
            streamEnded_ = true;
        } else if (rc == Z_BUF_ERROR && zstream_.avail_in == 0) {
            if (compressedLeft_ == 0) {
                break;  // no input and nothing held back: what came is all there is
            }
        } else if (rc != Z_OK) {
            return kReadFailed;  // damaged data, or no progress with input at hand
        }
    }
    return static_cast<std::int64_t>(want - zstream_.avail_out);
}

Piece ItemStream::read(unsigned char* out, std::size_t capacity) {
    if (!open_) {
        return Piece{kReadFailed, false};
    }
    if (error_ != 0) {
        return Piece{error_, false};
    }
    if (ended_) {
        return Piece{0, false};
    }
    int code = 0;
    if (!headerDone_ && !checkEncryptionHeader(code)) {
        return fail(code);
    }
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(capacity, uncompressedLeft_));
    std::int64_t got = 0;
    if (want > 0) {
        got = inflating_ ? readDeflated(out, want) : readStored(out, want);
        if (got < 0) {
            return fail(static_cast<int>(got));
        }
    }
    crc_ = crc32(crc_, out, static_cast<uInt>(got));
    uncompressedLeft_ -= static_cast<std::uint64_t>(got);
    if (uncompressedLeft_ == 0) {
        ended_ = true;
        return Piece{got, true};
    }
    return Piece{got, false};
}

}  // namespace fw::archive
