#include "tests/support/TempPrefix.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <stdexcept>

namespace fw::test {

namespace fs = std::filesystem;

TempPrefix::TempPrefix() {
    std::string pattern = (fs::temp_directory_path() / "ferrowick-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot make a temporary prefix");
    }
    root_ = pattern;
    fs::create_directories(fs::path(root_) / "drive_c");
    if (const char* old = getenv("FERROWICK_PREFIX")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    setenv("FERROWICK_PREFIX", root_.c_str(), 1);
}

TempPrefix::~TempPrefix() {
    if (hadPrevious_) {
        setenv("FERROWICK_PREFIX", previous_.c_str(), 1);
    } else {
        unsetenv("FERROWICK_PREFIX");
    }
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string TempPrefix::host(std::string_view drivePath) const {
    std::string out;
    std::string_view rest = drivePath;
    if (rest.size() >= 2 && rest[1] == ':') {
        const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0])));
        out = letter == 'z' ? std::string() : root_ + "/drive_" + letter;
        rest.remove_prefix(2);
    }
    for (char c : rest) {
        out += (c == '\\') ? '/' : c;
    }
    return out.empty() ? "/" : out;
}

bool setHostFileImmutable(const std::string& hostPath, bool immutable) {
    const int fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    bool set = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (set) {
        flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        set = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (fd >= 0) {
        close(fd);
    }
    return set;
}

}  // namespace fw::test
