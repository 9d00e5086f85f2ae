// A throw-away drive prefix for a test: FERROWICK_PREFIX names a fresh temporary folder
// (with an empty drive_c) for the object's lifetime; the folder is removed afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fw::test {

class TempPrefix {
  public:
    TempPrefix();
    ~TempPrefix();
    TempPrefix(const TempPrefix&) = delete;
    TempPrefix& operator=(const TempPrefix&) = delete;

    // Host path of the prefix folder.
    const std::string& root() const { return root_; }

    // Host path of a drive path such as "C:\\Temp\\x" or "C:/Temp/x", spelled as given
    // (no case-insensitive lookup). "Z:" maps to the host's root.
    std::string host(std::string_view drivePath) const;

  private:
    std::string root_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// Reads a whole host file; empty when it cannot be read.
std::string readHostFile(const std::string& hostPath);

// Writes a whole host file, creating its folders; false on failure.
bool writeHostFile(const std::string& hostPath, std::string_view contents);

// Writes a new host file of `size` bytes that holds each piece's bytes at its offset and
// nothing else: the rest is a hole where the file system has holes. Gives the bytes that
// the file system gave the file, or -1 when it could not be written.
int64_t writeSparseHostFile(const std::string& hostPath, uint64_t size,
                            const std::vector<std::pair<uint64_t, std::string>>& pieces);

#ifndef _WIN32
// Sets or clears the immutable flag of a host file, which keeps even root from removing
// it; false where it cannot be set (no root, or a file system without the flag).
bool setHostFileImmutable(const std::string& hostPath, bool immutable);
#endif

}  // namespace fw::test
