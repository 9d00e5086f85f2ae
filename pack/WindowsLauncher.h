// A Windows launcher, written from a stub and read back for the check, the same way by
// both packers, whatever system they run on: only opening and naming files, and telling
// a signature's state, are each system's own.
#pragma once

#include <cstdint>
#include <string>

#include "pack/Packer.h"
#include "pe/PePayload.h"

namespace fw::pack {

// True when the launcher marker lies in the first `size` bytes read through `read`.
bool holdsLauncherMarker(const ReadAt& read, uint64_t size);

// How many bytes of a Windows stub of `size` bytes are its own: a payload table that an
// older packer appended for a Linux launcher (which Windows never reads) left out.
uint64_t withoutAppendedTable(const ReadAt& read, uint64_t size);

// Writes the launcher made of the Windows stub of `stubSize` bytes through `out`: its
// payload resource `prefix` and `payload`, and `edits` made. Why it cannot, or empty;
// "cannot write" when the output failed.
std::string writeWindowsLauncher(const Options& options, const ReadAt& stub, uint64_t stubSize,
                                 const std::string& prefix, const Payload& payload,
                                 const pe::ResourceEdits& edits, const pe::Output& out, Made& made);

// Where a Windows launcher's payload (after its prefix) lies in the file.
struct PayloadSpan {
    uint64_t offset = 0;
    uint64_t size = 0;
};

// Reads a Windows launcher of `size` bytes for the check: where its archive lies, and
// the lines and problems of its image, icon, version and an appended table. Its
// `signature` is set before. Why it carries no payload, or empty.
std::string readWindowsLauncher(const ReadAt& read, uint64_t size, LauncherRead& launcher,
                                PayloadSpan& archive);

}  // namespace fw::pack
