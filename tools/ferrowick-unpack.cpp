// ferrowick-unpack ARCHIVE FOLDER: unpacks every item of ARCHIVE below FOLDER with the
// archive reader, in the order and manner of the installation sequence. Both arguments
// are host paths; they reach the reader as drive paths under Z:.
#include <cstdio>
#include <filesystem>
#include <string>

#include "archive/ArchiveReader.h"

namespace {

const char* resultName(ArchiveResult result) {
    switch (result) {
        case AR_OK:
            return "AR_OK";
        case AR_CANNOT_OPEN:
            return "AR_CANNOT_OPEN";
        case AR_WRITE_FAILED:
            return "AR_WRITE_FAILED";
        case AR_BAD_CATALOGUE:
            return "AR_BAD_CATALOGUE";
        case AR_BAD_LOCAL_HEADER:
            return "AR_BAD_LOCAL_HEADER";
        case AR_READ_FAILED:
            return "AR_READ_FAILED";
        case AR_NAME_TOO_LONG:
            return "AR_NAME_TOO_LONG";
        case AR_PATH_TOO_LONG:
            return "AR_PATH_TOO_LONG";
        case AR_BAD_PASSWORD:
            return "AR_BAD_PASSWORD";
        case AR_BAD_ARGUMENT:
            return "AR_BAD_ARGUMENT";
        case AR_WRONG_KIND:
            return "AR_WRONG_KIND";
        case AR_INFLATE_FAILED:
            return "AR_INFLATE_FAILED";
        default:
            return "unknown result";
    }
}

// "/tmp/a" becomes "Z:/tmp/a"; a relative path is made absolute first.
std::string drivePath(const char* hostPath) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(hostPath, ignored);
    return "Z:" + (absolute.empty() ? std::string(hostPath) : absolute.string());
}

bool endsInSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ARCHIVE FOLDER\n", argc > 0 ? argv[0] : "ferrowick-unpack");
        return 2;
    }
    const std::string archive = drivePath(argv[1]);
    std::string folder = drivePath(argv[2]);
    if (!endsInSeparator(folder)) {
        folder += '/';
    }
    ArchiveHandle handle = OpenArchive(archive.c_str());
    if (!handle) {
        std::fprintf(stderr, "%s: cannot open %s as a ZIP archive\n", argv[0], argv[1]);
        return 1;
    }
    ArchiveItem item;
    GetArchiveItem(handle, -1, item);
    const int32_t count = item.index;
    int failures = 0;
    for (int32_t index = 0; index < count; ++index) {
        const ArchiveResult described = GetArchiveItem(handle, index, item);
        const std::string target = folder + item.name;
        const ArchiveResult result =
            described == AR_OK ? ExtractArchiveItem(handle, index, target.c_str()) : described;
        if (result != AR_OK) {
            std::printf("%d %s %s\n", index, resultName(result), item.name);
            ++failures;
        }
    }
    CloseArchive(handle);
    return failures == 0 ? 0 : 1;
}
