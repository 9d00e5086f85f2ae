#include "platform/win32/Win32Backend.h"

namespace fw {

const Platform& hostPlatform() {
    static const Platform table = [] {
        win32::useAnsiMultibyteCodePage();
        return Platform{
            win32::getFileAttributes,
            win32::createDirectory,
            win32::openFile,
            win32::createFile,
            win32::readFile,
            win32::writeFile,
            win32::seekFile,
            win32::setFileTimes,
            win32::closeFile,
            win32::removeFile,
            win32::copyFile,
            win32::findFirst,
            win32::findNext,
            win32::findClose,
            win32::currentDirectory,
            win32::setFileAttributes,
            win32::lastError,
            win32::ansiCodePage,
            win32::systemTimeToFileTime,
            win32::localFileTimeToFileTime,
            win32::ansiFromUtf8,
            win32::moduleFileName,
            win32::findResource,
            win32::loadString,
            win32::messageBox,
            win32::dialogBox,
            win32::runCommand,
            win32::writeStandardOutput,
            win32::sleep,
            win32::claimSingleInstance,
        };
    }();
    return table;
}

}  // namespace fw
