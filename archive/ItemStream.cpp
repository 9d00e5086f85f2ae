#include "archive/detail/ItemStream.h"

#include <algorithm>

#include "archive/ZipLayout.h"

namespace fw::archive {

bool isEncrypted(const ItemData& item) {
    return (item.flags & zip::kFlagEncrypted) != 0;
}

bool ItemStream::open(const ItemData& item, unsigned char* raw) {
    close();
    item_ = item;
    raw_ = raw;
    encrypted_ = isEncrypted(item);
    counted_ = encrypted_ || item.zip64;
    headerDone_ = !encrypted_;
    inputDone_ = streamEnded_ = ended_ = false;
    error_ = 0;
    cipher_ = TraditionalCipher{};
    uncompressedLeft_ = item.uncompressedSize;
    crc_ = crc32(0L, Z_NULL, 0);
    // minizip would copy an unknown method's data unchanged.
    if (item.method != 0 && item.method != Z_DEFLATED) {
        return false;
    }
    if (!encrypted_) {
        open_ = unzOpenCurrentFile(container_) == UNZ_OK;
        return open_;
    }
    if (item.method == Z_DEFLATED) {
        if (raw_ == nullptr) {
            return false;
        }
        zstream_ = z_stream{};
        if (inflateInit2(&zstream_, -MAX_WBITS) != Z_OK) {
            return false;
        }
        inflating_ = true;
    }
    int method = 0;
    int level = 0;
    open_ = unzOpenCurrentFile2(container_, &method, &level, 1) == UNZ_OK;
    if (!open_) {
        close();
    }
    return open_;
}

bool ItemStream::close() {
    if (inflating_) {
        inflateEnd(&zstream_);
        inflating_ = false;
    }
    if (!open_) {
        return true;
    }
    open_ = false;
    const int closed = unzCloseCurrentFile(container_);
    if (counted_) {
        return !ended_ || crc_ == item_.crc;  // minizip may have checked nothing
    }
    return closed != UNZ_CRCERROR;
}

Piece ItemStream::fail(int code) {
    error_ = code;
    return Piece{code, false};
}

Piece ItemStream::read(unsigned char* out, std::size_t capacity) {
    if (!open_) {
        return Piece{kReadFailed, false};
    }
    if (error_ != 0) {
        return Piece{error_, false};
    }
    return counted_ ? readCounted(out, capacity) : readPlain(out, capacity);
}

Piece ItemStream::readPlain(unsigned char* out, std::size_t capacity) {
    const int got =
        unzReadCurrentFile(container_, out, static_cast<unsigned>(std::min(capacity, kPieceSize)));
    if (got < 0) {
        return fail(got);
    }
    // Debian's minizip reports the end only through unzeof: the stated size is used up.
    return Piece{got, unzeof(container_) == 1};
}

// Reads up to `most` raw bytes of the item through minizip and decrypts them; 0 once
// the item's compressed data is used up.
std::int64_t ItemStream::fetch(unsigned char* to, std::size_t most) {
    const int got = unzReadCurrentFile(container_, to, static_cast<unsigned>(most));
    if (got > 0) {
        cipher_.decrypt(to, static_cast<std::size_t>(got));
    }
    return got;
}

int ItemStream::checkEncryptionHeader() {
    unsigned char header[kEncryptionHeaderSize];
    const int n = unzReadCurrentFile(container_, header, kEncryptionHeaderSize);
    if (n != static_cast<int>(kEncryptionHeaderSize)) {
        return n < 0 ? n : kReadFailed;
    }
    const auto check = static_cast<uint8_t>((item_.flags & zip::kFlagDataDescriptor)
                                                ? (item_.dosDateTime >> 8) & 0xFF
                                                : item_.crc >> 24);
    if (!passesHeaderCheck(cipher_, header, check)) {
        return kReadBadPassword;
    }
    headerDone_ = true;
    return 0;
}

std::int64_t ItemStream::readDeflated(unsigned char* out, std::size_t want) {
    zstream_.next_out = out;
    zstream_.avail_out = static_cast<uInt>(want);
    while (zstream_.avail_out > 0 && !streamEnded_) {
        if (zstream_.avail_in == 0 && !inputDone_) {
            const std::int64_t got = fetch(raw_, kPieceSize);
            if (got < 0) {
                return got;
            }
            inputDone_ = got == 0;
            zstream_.next_in = raw_;
            zstream_.avail_in = static_cast<uInt>(got);
        }
        // With no input left, inflate is still asked: it may hold output that did not
        // fit the last piece.
        const int rc = inflate(&zstream_, Z_SYNC_FLUSH);
        if (rc == Z_STREAM_END) {
            streamEnded_ = true;
        } else if (rc == Z_BUF_ERROR && zstream_.avail_in == 0) {
            if (inputDone_) {
                break;  // no input and nothing held back: what came is all there is
            }
        } else if (rc != Z_OK) {
            return kReadFailed;  // damaged data, or no progress with input at hand
        }
    }
    return static_cast<std::int64_t>(want - zstream_.avail_out);
}

Piece ItemStream::readCounted(unsigned char* out, std::size_t capacity) {
    if (ended_) {
        return Piece{0, false};
    }
    if (!headerDone_) {
        if (const int code = checkEncryptionHeader(); code != 0) {
            return fail(code);
        }
    }
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(capacity, uncompressedLeft_));
    std::int64_t got = 0;
    if (want > 0) {
        if (!encrypted_) {
            got = unzReadCurrentFile(container_, out, static_cast<unsigned>(want));
        } else {
            got = inflating_ ? readDeflated(out, want) : fetch(out, want);
        }
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
