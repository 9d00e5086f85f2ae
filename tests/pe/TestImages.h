// Windows images that the packer's tests make for themselves, so that the PE writer is
// tested in every build, with or without the cross-built launcher.
#pragma once

#include <cstddef>
#include <string>

#include "pe/PeImage.h"

namespace fw::test {

// The Windows launcher as built: the file FERROWICK_WINDOWS_LAUNCHER names, or the cross
// build's in the checkout. It need not be there.
std::string windowsLauncher();

// Reads `bytes`, which must outlive the reader.
pe::ReadAt readerOf(const std::string& bytes);

// A 64-bit image with one code section holding the launcher marker, and no resources.
std::string bareImage();

// A 64-bit image laid out as a linker lays one out, its checksum set: code, then the
// resources (the payload TIMELISTINGS/#132 and one RCDATA resource), then two
// discardable sections, the relocations and the debug directory with the data its entry
// points at, then a COFF symbol table and its string table, which holds the long name of
// the last section.
std::string imageWithResources();

// Where the PKCS#7 signature in an image's certificate table lies: its offset and size
// in the file; size 0 when there is none.
struct SignaturePlace {
    std::size_t offset = 0;
    std::size_t size = 0;
};
SignaturePlace signaturePlace(const std::string& image);

}  // namespace fw::test
