// Path texts of the extraction: the absolute test and bounded joining.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>

#include "archive/ArchiveReader.h"

namespace fw::archive {

// "/x", "\x" and "C:..." are absolute; everything else, the empty text included, is not.
bool isAbsolutePath(std::string_view path);

// Joins `pieces` into `out` with its NUL; false, with `out` empty, when the result would
// be longer than kArchivePathSize - 1 characters.
bool joinPath(char (&out)[kArchivePathSize], std::initializer_list<std::string_view> pieces);

}  // namespace fw::archive
