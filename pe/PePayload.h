// The payload resource of a Windows launcher: found where the loader finds it, and
// replaced, streamed from a stub to an output with every other resource kept byte for
// byte (but the icon and version, when asked to change them). The resource section is
// laid out anew, the sections after it moved, SizeOfImage and the checksum set, and a
// certificate table dropped (it could only be broken).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "pe/PeImage.h"
#include "pe/ResourceEdits.h"

namespace fw::pe {

using WriteAt = std::function<bool(const void* data, std::size_t size, uint64_t offset)>;

// The language the launcher's resources are in, and so its payload.
inline constexpr uint16_t kPayloadLanguage = 0x0409;

// Where the payload resource's bytes lie in the file.
struct PayloadPlace {
    uint64_t fileOffset = 0;
    uint32_t size = 0;
    uint16_t language = 0;
};

// Finds the payload resource (res/resource.h) as the loader does (language 0x0409, else the first).
// Why it cannot, or empty.
std::string findPayload(const ReadAt& read, uint64_t fileSize, PayloadPlace& place);

// The new resource: `prefix`, then `size` bytes read through `read`.
struct NewPayload {
    std::string prefix;
    ReadAt read;
    uint64_t size = 0;
};

struct Output {
    std::function<bool(const void* data, std::size_t size)> append;
    WriteAt writeAt;  // for the checksum, once everything is appended
};

struct Written {
    uint64_t fileSize = 0;
    uint64_t sizeOfImage = 0;
    bool certificateDropped = false;
};

// Writes the stub with `payload` as its payload resource, and `edits` made. Why it
// cannot, or empty; a failed write is "cannot write" followed by nothing more.
std::string writeWithPayload(const ReadAt& stub, uint64_t stubSize, const NewPayload& payload,
                             const ResourceEdits& edits, const Output& out, Written& written);

// The largest archive a launcher made of this stub may carry after a prefix of
// `prefixSize` bytes, and the image limit it follows from. Why none can be made, or empty.
std::string largestPayload(const ReadAt& stub, uint64_t stubSize, uint64_t prefixSize,
                           uint64_t& largest, uint64_t& imageLimit);

// The SizeOfImage of a launcher made of this stub with a payload resource (prefix and
// archive) of `resourceSize` bytes. Why none can be made, or empty.
std::string imageSizeFor(const ReadAt& stub, uint64_t stubSize, uint64_t resourceSize,
                         uint64_t& sizeOfImage);

// Where a stub's resources lie in its image: what a new payload grows, and the image
// that moves with it.
struct ResourcePlace {
    uint32_t sizeOfImage = 0;
    uint32_t address = 0;     // the resource section's RVA
    uint64_t imageAfter = 0;  // bytes of the image after it: the sections that move
};

// Why the stub cannot carry a payload, or empty.
std::string resourcePlace(const ReadAt& stub, uint64_t stubSize, ResourcePlace& place);

}  // namespace fw::pe
