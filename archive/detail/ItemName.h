// The clean-up of stored item names: drive prefixes, leading separators and every
// parent-folder step are taken off, so a cleaned name always lies below the folder it
// is unpacked into.
#pragma once

#include <string_view>

namespace fw::archive {

// Cleans `stored` (ANSI code page bytes, no NUL) into `out`, which has room for
// `outSize` bytes; the result is NUL-terminated. A cleaned name is never longer than the
// stored one, so `outSize` greater than `stored.size()` always suffices; a longer result
// is never written past `outSize`: false then, and `out` holds the empty text.
bool cleanItemName(std::string_view stored, char* out, std::size_t outSize);

}  // namespace fw::archive
