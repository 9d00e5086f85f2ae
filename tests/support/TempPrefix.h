// A throw-away drive prefix for a test: FERROWICK_PREFIX names a fresh temporary folder
// (with an empty drive_c) for the object's lifetime; the folder is removed afterwards.
#pragma once

#include <string>
#include <string_view>

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

}  // namespace fw::test
