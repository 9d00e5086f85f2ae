#include "archive/detail/PathText.h"

#include <cstring>

namespace fw::archive {

bool isAbsolutePath(std::string_view path) {
    if (path.empty()) {
        return false;
    }
    return path[0] == '/' || path[0] == '\\' || (path.size() >= 2 && path[1] == ':');
}

bool joinPath(char (&out)[kArchivePathSize], std::initializer_list<std::string_view> pieces) {
    std::size_t total = 0;
    for (std::string_view piece : pieces) {
        total += piece.size();
    }
    out[0] = '\0';
    if (total >= kArchivePathSize) {
        return false;
    }
    char* at = out;
    for (std::string_view piece : pieces) {
        if (piece.empty()) {
            continue;  // an empty view may have no data pointer at all
        }
        std::memcpy(at, piece.data(), piece.size());
        at += piece.size();
    }
    *at = '\0';
    return true;
}

}  // namespace fw::archive
