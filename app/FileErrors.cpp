#include "app/FileErrors.h"

#include "platform/Platform.h"

std::string_view FileErrorText(uint32_t error) {
    switch (error) {
        case fw::kErrorDiskFull:
        case fw::kErrorHandleDiskFull:
            return "the disk is full";
        case fw::kErrorSharingViolation:
        case fw::kErrorLockViolation:
            return "the file is in use by another program";
        case fw::kErrorAccessDenied:
            return "access to the file was denied";
        case fw::kErrorWriteProtect:
            return "the disk is write-protected";
        case fw::kErrorPathNotFound:
            return "its folder could not be made (a file may stand in its place)";
        case fw::kErrorFilenameTooLong:
            return "its path is too long";
        case fw::kErrorCantResolveFilename:
            return "a link or junction stands in its way";
        default:
            return {};
    }
}

std::string SystemWords(uint32_t error) {
    if (error == 0) {
        return "the system gave no reason";
    }
    std::string text;
    std::string number = "error " + std::to_string(error);
    if (!fw::os().errorText(error, text) || text.empty()) {
        return number;
    }
    return text + " (" + number + ")";
}

std::string ReasonFor(uint32_t error) {
    const std::string_view text = FileErrorText(error);
    return text.empty() ? SystemWords(error) : std::string(text);
}
