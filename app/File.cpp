#include "app/File.h"

namespace {

// FILE_ATTRIBUTE_NORMAL: what a file created through the framework gets.
constexpr uint32_t kAttrNormal = 0x80;

}  // namespace

CFile::~CFile() {
    Close();
}

bool CFile::GetStatus(const char* path, CFileStatus& status) {
    const uint32_t attributes = fw::os().getFileAttributes(path);
    if (attributes == fw::kInvalidAttributes) {
        return false;
    }
    status.m_attribute = attributes;
    return true;
}

bool CFile::Open(const char* path, uint32_t flags) {
    Close();
    if ((flags & modeCreate) == 0) {
        return false;
    }
    file_ = fw::os().createFile(path, kAttrNormal, (flags & modeReadWrite) != 0);
    return file_ != fw::kInvalidFile;
}

bool CFile::Write(const void* data, std::size_t count) {
    return file_ != fw::kInvalidFile && fw::os().writeFile(file_, data, count);
}

bool CFile::Close() {
    if (file_ == fw::kInvalidFile) {
        return false;
    }
    const bool closed = fw::os().closeFile(file_);
    file_ = fw::kInvalidFile;
    return closed;
}
