// Folders the installation makes on its way.
#pragma once

#include <string>

// Creates the one folder `path` unless a file or folder of that name exists.
void CreateFolderIfMissing(std::string path);
