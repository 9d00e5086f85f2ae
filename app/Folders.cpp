#include "app/Folders.h"

#include "app/File.h"
#include "platform/Platform.h"

void CreateFolderIfMissing(std::string path) {
    CFileStatus status;
    if (!CFile::GetStatus(path.c_str(), status)) {
        fw::os().createDirectory(path.c_str());
    }
}
