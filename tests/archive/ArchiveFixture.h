// A fixture for reader tests: a throw-away prefix, the current directory at C:\work
// (so the base folder is C:\work\), and helpers to write archives and read files back.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/ArchiveReader.h"
#include "pack/ZipWriter.h"
#include "tests/support/RawZip.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempPrefix.h"

namespace fw::test {

class ArchiveFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = std::filesystem::current_path();
        std::filesystem::create_directories(prefix.host("C:/work"));
        std::filesystem::current_path(prefix.host("C:/work"));
    }
    void TearDown() override {
        for (ArchiveHandle h : open_) {
            CloseArchive(h);
        }
        std::filesystem::current_path(saved_);
    }

    // Writes `bytes` as C:/zips/<name>; gives its drive path.
    std::string putArchive(const std::string& name, const std::string& bytes) {
        const std::string drive = "C:/zips/" + name;
        EXPECT_TRUE(writeHostFile(prefix.host(drive), bytes));
        return drive;
    }
    std::string zipArchive(const std::string& name, const std::vector<zipwrite::Entry>& entries) {
        const std::string drive = "C:/zips/" + name;
        std::filesystem::create_directories(prefix.host("C:/zips"));
        std::string error;
        EXPECT_TRUE(zipwrite::writeArchive(prefix.host(drive), entries, &error)) << error;
        return drive;
    }
    // Opens and remembers the handle for closing at the end of the test.
    ArchiveHandle open(const std::string& drivePath) {
        ArchiveHandle h = OpenArchive(drivePath.c_str());
        if (h) {
            open_.push_back(h);
        }
        return h;
    }
    ArchiveHandle openRaw(const std::vector<RawEntry>& entries) {
        return open(putArchive("raw" + std::to_string(++counter_) + ".zip", buildArchive(entries)));
    }
    ArchiveHandle openZip(const std::vector<zipwrite::Entry>& entries) {
        return open(zipArchive("made" + std::to_string(++counter_) + ".zip", entries));
    }
    // Closes a handle that the test opened itself, ahead of TearDown.
    ArchiveResult close(ArchiveHandle h) {
        std::erase(open_, h);
        return CloseArchive(h);
    }
    std::string read(const std::string& drivePath) const {
        return readHostFile(prefix.host(drivePath));
    }
    // The file at a drive path, read through the platform, which spells the name on the
    // host as the code page says.
    static std::string readThroughPlatform(const std::string& drivePath) {
        std::string bytes;
        const FileHandle file = os().openFile(drivePath.c_str());
        char buffer[4096];
        for (int64_t n = 0;
             file != kInvalidFile && (n = os().readFile(file, buffer, sizeof buffer)) > 0;) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        if (file != kInvalidFile) {
            os().closeFile(file);
        }
        return bytes;
    }
    bool exists(const std::string& drivePath) const {
        return std::filesystem::exists(prefix.host(drivePath));
    }

    TempPrefix prefix;

  private:
    std::filesystem::path saved_;
    std::vector<ArchiveHandle> open_;
    int counter_ = 0;
};

// Windows runs a test's rows of one code page, its prefix's; FERROWICK_CODE_PAGE says
// which that must be when a run is made for one.
inline void expectTheCodePageAskedFor() {
    if (const char* asked = std::getenv("FERROWICK_CODE_PAGE")) {
        EXPECT_EQ(std::to_string(os().ansiCodePage()), asked);
    }
}

inline constexpr const char* kChinese = "zh_CN.UTF-8";        // code page 936
inline constexpr const char* kWesternEurope = "en_US.UTF-8";  // code page 1252
inline constexpr const char* kJapanese = "ja_JP.UTF-8";       // code page 932

}  // namespace fw::test
