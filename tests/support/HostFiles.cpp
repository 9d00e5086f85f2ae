// Whole-file reads and writes by host path, the same on every platform the tests run on.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "tests/support/TempPrefix.h"

namespace fw::test {

namespace fs = std::filesystem;

std::string readHostFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeHostFile(const std::string& hostPath, std::string_view contents) {
    std::error_code ec;
    fs::create_directories(fs::path(hostPath).parent_path(), ec);
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    return static_cast<bool>(out);
}

}  // namespace fw::test
