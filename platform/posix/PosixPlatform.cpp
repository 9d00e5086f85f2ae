#include "platform/posix/PosixBackend.h"

namespace fw {

const Platform& hostPlatform() {
    static const Platform table = {
        posix::getFileAttributes,
        posix::createDirectory,
        posix::openFile,
        posix::createFile,
        posix::readFile,
        posix::writeFile,
        posix::seekFile,
        posix::setFileTimes,
        posix::closeFile,
        posix::removeFile,
        posix::copyFile,
        posix::findFirst,
        posix::findNext,
        posix::findClose,
        posix::currentDirectory,
        posix::setFileAttributes,
        posix::lastError,
        posix::ansiCodePage,
        posix::systemTimeToFileTime,
        posix::localFileTimeToFileTime,
        posix::ansiFromUtf8,
        posix::moduleFileName,
        posix::findResource,
        posix::loadString,
        posix::messageBox,
        posix::dialogBox,
        posix::runCommand,
        posix::writeStandardOutput,
        posix::sleep,
        posix::claimSingleInstance,
    };
    return table;
}

}  // namespace fw
