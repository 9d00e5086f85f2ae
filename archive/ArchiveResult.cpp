// Every result of the reader, put into words in one place: a result that this switch
// leaves out fails to compile (-Wswitch is an error in the project's builds).
#include <ostream>

#include "archive/ArchiveReader.h"

ArchiveResultWords ArchiveResultWording(ArchiveResult result) {
    switch (result) {
        case AR_OK:
            return {"AR_OK", "it was unpacked", "it unpacks"};
        case AR_CANNOT_OPEN:
            return {"AR_CANNOT_OPEN", "the file could not be created",
                    "its file cannot be made (its name ends in a separator)"};
        case AR_WRITE_FAILED:
            return {"AR_WRITE_FAILED", "the file could not be written",
                    "its file cannot be written"};
        case AR_BAD_CATALOGUE:
            return {"AR_BAD_CATALOGUE", "its entry in the archive is damaged",
                    "it is damaged: its entry in the archive cannot be read"};
        case AR_BAD_LOCAL_HEADER:
            return {"AR_BAD_LOCAL_HEADER", "its entry in the archive is damaged",
                    "it is damaged: its local header disagrees with its entry in the archive"};
        case AR_READ_FAILED:
            return {"AR_READ_FAILED", "its entry in the archive is damaged",
                    "it is damaged: its local header's extra field cannot be read"};
        case AR_NAME_TOO_LONG:
            return {"AR_NAME_TOO_LONG", "its name in the archive is too long",
                    "its name is 260 bytes or longer"};
        case AR_PATH_TOO_LONG:
            return {"AR_PATH_TOO_LONG", "its path is too long", "its path is over 259 characters"};
        case AR_ITEM_TOO_LARGE:
            return {"AR_ITEM_TOO_LARGE", "it is too large (4 GiB or more)",
                    "it is too large (4 GiB or more)"};
        case AR_NAME_HAS_NUL:
            return {"AR_NAME_HAS_NUL", "its name in the archive is damaged (it holds a NUL byte)",
                    "its name holds a NUL byte"};
        case AR_NAME_NOT_IN_CODE_PAGE:
            return {"AR_NAME_NOT_IN_CODE_PAGE",
                    "its name cannot be written in this computer's language settings",
                    "its name cannot be expressed in code page"};
        case AR_BAD_PASSWORD:
            return {"AR_BAD_PASSWORD", "it is encrypted", "it is encrypted"};
        case AR_BAD_ARGUMENT:
            return {"AR_BAD_ARGUMENT", "its entry in the archive is damaged",
                    "it is damaged: its entry in the archive cannot be reached"};
        case AR_WRONG_KIND:
            return {"AR_WRONG_KIND", "its entry in the archive is damaged",
                    "it is damaged: its entry in the archive cannot be reached"};
        case AR_INFLATE_FAILED:
            return {"AR_INFLATE_FAILED", "its data in the archive is damaged",
                    "it is damaged: its data does not inflate to its size and CRC-32"};
    }
    // A value that no result has.
    return {nullptr, "its entry in the archive is damaged",
            "it is damaged: its entry in the archive cannot be read"};
}

const char* ArchiveResultName(ArchiveResult result) {
    return ArchiveResultWording(result).name;
}

void PrintTo(ArchiveResult result, std::ostream* out) {
    if (const char* name = ArchiveResultName(result)) {
        *out << name;
    } else {
        *out << "0x" << std::hex << static_cast<uint32_t>(result) << std::dec;
    }
}
