#include "archive/detail/ItemData.h"

#include <isa-l/crc.h>

#include <algorithm>
#include <new>
#include <utility>

#include "archive/ZipLayout.h"
#include "archive/detail/TraditionalCipher.h"

namespace fw::archive {

std::unique_ptr<Workspace> Workspaces::take() {
    {
        const std::lock_guard guard(lock_);
        if (!free_.empty()) {
            std::unique_ptr<Workspace> space = std::move(free_.back());
            free_.pop_back();
            return space;
        }
    }
    try {
        auto space = std::make_unique<Workspace>();
        const std::lock_guard guard(lock_);
        ++made_;
        return space;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::size_t Workspaces::made() {
    const std::lock_guard guard(lock_);
    return made_;
}

void Workspaces::give(std::unique_ptr<Workspace> space) {
    const std::lock_guard guard(lock_);
    try {
        free_.push_back(std::move(space));
    } catch (const std::bad_alloc&) {
        // Not kept: the next extraction makes another.
    }
}

namespace {

// The item's compressed bytes, piece by piece, decrypted when the item is encrypted.
class CompressedInput {
  public:
    CompressedInput(FileHandle archive, const ArchiveItemData& item)
        : archive_(archive), at_(item.dataOffset), left_(item.compressedSize) {}

    // Reads up to `count` bytes into `to`: the count, or -1 when the platform fails. A
    // short read (0 included) is the end of the item's data.
    std::int64_t read(unsigned char* to, std::size_t count) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(count, left_));
        if (want == 0) {
            ended_ = true;
            return 0;
        }
        const std::int64_t got = os().readFileAt(archive_, to, want, at_);
        if (got < 0) {
            return -1;
        }
        const auto n = static_cast<std::size_t>(got);
        ended_ = n < want;
        at_ += n;
        left_ -= n;
        if (encrypted_) {
            cipher_.decrypt(to, n);
        }
        return got;
    }

    bool ended() const { return ended_; }

    // Reads and checks the encryption header in front of an encrypted item's data: AR_OK,
    // AR_BAD_PASSWORD, or AR_INFLATE_FAILED when it cannot be read whole.
    ArchiveResult openEncrypted(const ArchiveItemData& item) {
        unsigned char header[kEncryptionHeaderSize];
        if (read(header, sizeof header) != static_cast<std::int64_t>(sizeof header)) {
            return AR_INFLATE_FAILED;
        }
        const auto check = static_cast<uint8_t>((item.flags & zip::kFlagDataDescriptor)
                                                    ? (item.dosDateTime >> 8) & 0xFF
                                                    : item.crc >> 24);
        if (!passesHeaderCheck(cipher_, header, check)) {
            return AR_BAD_PASSWORD;
        }
        encrypted_ = true;  // the cipher goes on from the header's state
        return AR_OK;
    }

  private:
    FileHandle archive_;
    std::uint64_t at_;
    std::uint64_t left_;
    bool ended_ = false;
    bool encrypted_ = false;
    TraditionalCipher cipher_;
};

// Unpacked bytes on their way to the output file, with their running CRC-32.
class Output {
  public:
    explicit Output(FileHandle out) : out_(out) {}

    bool write(const unsigned char* bytes, std::size_t count) {
        crc_ = crc32_gzip_refl(crc_, bytes, count);
        return count == 0 || os().writeFile(out_, bytes, count);
    }
    std::uint32_t crc() const { return crc_; }

  private:
    FileHandle out_;
    std::uint32_t crc_ = 0;
};

ArchiveResult copyStored(CompressedInput& input, std::uint64_t size, Output& output,
                         Workspace& space) {
    while (size > 0) {
        const std::int64_t got = input.read(space.input.get(), kPieceSize);
        if (got < 0) {
            return AR_INFLATE_FAILED;
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(got, size));
        if (!output.write(space.input.get(), n)) {
            return AR_WRITE_FAILED;
        }
        size -= n;
        if (size > 0 && input.ended()) {
            return AR_INFLATE_FAILED;  // the data ended before the item's stated size
        }
    }
    return AR_OK;
}

// Inflates until `size` bytes came out; what comes after them is not looked at.
ArchiveResult copyDeflated(CompressedInput& input, std::uint64_t size, Output& output,
                           Workspace& space) {
    inflate_state& state = space.inflater;
    isal_inflate_init(&state);
    unsigned char* const out = space.output.get();
    std::size_t held = 0;  // unpacked bytes in `out` not yet written
    ArchiveResult result = AR_OK;
    while (size > 0) {
        if (state.avail_in == 0 && !input.ended()) {
            const std::int64_t got = input.read(space.input.get(), kPieceSize);
            if (got < 0) {
                result = AR_INFLATE_FAILED;
                break;
            }
            state.next_in = space.input.get();
            state.avail_in = static_cast<std::uint32_t>(got);
        }
        const std::uint32_t inBefore = state.avail_in;
        state.next_out = out + held;
        state.avail_out =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(kPieceSize - held, size));
        const std::uint32_t room = state.avail_out;
        const int status = isal_inflate(&state);
        const std::size_t produced = room - state.avail_out;
        held += produced;
        size -= produced;
        if (held == kPieceSize || size == 0) {
            if (!output.write(out, held)) {
                return AR_WRITE_FAILED;
            }
            held = 0;
        }
        if (size == 0) {
            break;
        }
        const bool stuck =
            produced == 0 && state.avail_in == inBefore && (state.avail_in > 0 || input.ended());
        if (status < 0 || state.block_state == ISAL_BLOCK_FINISH || stuck) {
            // Damaged, ended before the item's stated size, or out of input.
            result = AR_INFLATE_FAILED;
            break;
        }
    }
    // What came before a failure stays in the file, as a partly written item.
    if (held > 0 && !output.write(out, held)) {
        return AR_WRITE_FAILED;
    }
    return result;
}

}  // namespace

ArchiveResult copyItemData(FileHandle archive, const ArchiveItemData& item, FileHandle out,
                           Workspace& space) {
    CompressedInput input(archive, item);
    if (item.flags & zip::kFlagEncrypted) {
        if (const ArchiveResult opened = input.openEncrypted(item); opened != AR_OK) {
            return opened;
        }
    }
    Output output(out);
    ArchiveResult result = AR_INFLATE_FAILED;  // a method other than stored and deflated
    if (item.method == 0) {
        result = copyStored(input, item.uncompressedSize, output, space);
    } else if (item.method == zip::kMethodDeflated) {
        result = copyDeflated(input, item.uncompressedSize, output, space);
    }
    if (result == AR_OK && output.crc() != item.crc) {
        return AR_INFLATE_FAILED;
    }
    return result;
}

}  // namespace fw::archive
