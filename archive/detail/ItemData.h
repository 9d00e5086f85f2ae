// An item's data, from the archive file to the output file: read at its offset in pieces,
// decrypted when encrypted, inflated when deflated, its CRC-32 checked, and written.
// Inflating and the CRC-32 are ISA-L's.
#pragma once

#include <isa-l/igzip_lib.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "archive/ArchiveReader.h"
#include "platform/Platform.h"

namespace fw::archive {

// Compressed bytes are read, and unpacked bytes written, in pieces of this size: large
// enough that a read or write costs little beside its bytes, small enough to stay in the
// cores' caches (writes of several megabytes at once were erratic on a virtual machine).
inline constexpr std::size_t kPieceSize = 256 * 1024;

// What one extraction works in: one thread's at a time.
struct Workspace {
    std::unique_ptr<unsigned char[]> input{new unsigned char[kPieceSize]};
    std::unique_ptr<unsigned char[]> output{new unsigned char[kPieceSize]};
    inflate_state inflater{};
};

// The handle's workspaces: one for each thread extracting at the same time, made when
// first needed and kept until the handle is closed.
class Workspaces {
  public:
    // A free workspace, or a new one; null when memory runs out.
    std::unique_ptr<Workspace> take();
    void give(std::unique_ptr<Workspace> space);
    // How many it has made.
    std::size_t made();

  private:
    std::mutex lock_;
    std::vector<std::unique_ptr<Workspace>> free_;
    std::size_t made_ = 0;
};

// Unpacks `item`'s data from `archive` into `out`: AR_OK when exactly its stated size
// arrived and its CRC-32 matches (data that runs on is cut at the stated size);
// AR_INFLATE_FAILED when a read fails, the data ends early, is damaged, or its CRC-32
// differs; AR_BAD_PASSWORD when an encrypted item fails the empty password's check;
// AR_WRITE_FAILED when a write fails. A short read is the end of the file.
ArchiveResult copyItemData(FileHandle archive, const ArchiveItemData& item, FileHandle out,
                           Workspace& space);

}  // namespace fw::archive
