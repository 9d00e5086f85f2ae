// The file part of the framework stand-in: a status query on a path, and a file that is
// created (or emptied) and written. Failures are returned, never thrown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Platform.h"

struct CFileStatus {
    uint32_t m_attribute = 0;
};

class CFile {
  public:
    enum OpenFlags : uint32_t {
        modeReadWrite = 0x0002,
        modeCreate = 0x1000,
        typeBinary = 0x8000,
    };

    CFile() = default;
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // True when `path` names an existing file or folder.
    static bool GetStatus(const char* path, CFileStatus& status);

    // Only the creating open is needed: modeCreate makes the file or empties an existing
    // one; modeReadWrite also allows reading. False when the file cannot be had.
    bool Open(const char* path, uint32_t flags);
    // True when every byte was written.
    bool Write(const void* data, std::size_t count);
    // True when the file was open and closed cleanly.
    bool Close();

  private:
    fw::FileHandle file_ = fw::kInvalidFile;
};
