// EnsureFolderPath: creates the missing levels of a folder path, shallowest first.
#include <cstring>
#include <string_view>

#include "archive/ArchiveReader.h"
#include "archive/detail/PathText.h"
#include "platform/Mbcs.h"

namespace {

void ensureLevels(const char* baseFolder, std::string_view base, std::string_view path) {
    // The base folder is tested again at every level, as the first thing each time.
    if (baseFolder && base.size() < kArchivePathSize &&
        fw::os().getFileAttributes(baseFolder) == fw::kInvalidAttributes) {
        fw::os().createDirectory(baseFolder);
    }
    if (path.empty()) {
        return;
    }
    const std::size_t separator = fw::mbcs::rfindSeparator(path);
    if (separator != fw::mbcs::npos && separator != 0) {
        ensureLevels(baseFolder, base, path.substr(0, separator));
    }
    char joined[kArchivePathSize];
    if (!fw::archive::joinPath(joined, {base, path})) {
        return;  // too long to name: neither tested nor created
    }
    if (fw::os().getFileAttributes(joined) == fw::kInvalidAttributes) {
        fw::os().createDirectory(joined);
    }
}

}  // namespace

void EnsureFolderPath(const char* baseFolder, const char* path) {
    const std::string_view base = baseFolder ? std::string_view(baseFolder) : std::string_view();
    ensureLevels(baseFolder, base, path ? std::string_view(path) : std::string_view());
}
