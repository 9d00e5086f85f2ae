// The names of the reader's results, for tools and test output.
#include <ostream>

#include "archive/ArchiveReader.h"

const char* ArchiveResultName(ArchiveResult result) {
    switch (result) {
#define FW_RESULT_NAME(name) \
    case name:               \
        return #name;
        FW_RESULT_NAME(AR_OK)
        FW_RESULT_NAME(AR_CANNOT_OPEN)
        FW_RESULT_NAME(AR_WRITE_FAILED)
        FW_RESULT_NAME(AR_BAD_CATALOGUE)
        FW_RESULT_NAME(AR_BAD_LOCAL_HEADER)
        FW_RESULT_NAME(AR_READ_FAILED)
        FW_RESULT_NAME(AR_NAME_TOO_LONG)
        FW_RESULT_NAME(AR_PATH_TOO_LONG)
        FW_RESULT_NAME(AR_ITEM_TOO_LARGE)
        FW_RESULT_NAME(AR_NAME_HAS_NUL)
        FW_RESULT_NAME(AR_NAME_NOT_IN_CODE_PAGE)
        FW_RESULT_NAME(AR_BAD_PASSWORD)
        FW_RESULT_NAME(AR_BAD_ARGUMENT)
        FW_RESULT_NAME(AR_WRONG_KIND)
        FW_RESULT_NAME(AR_INFLATE_FAILED)
#undef FW_RESULT_NAME
    }
    return nullptr;  // a value that no result has
}

void PrintTo(ArchiveResult result, std::ostream* out) {
    if (const char* name = ArchiveResultName(result)) {
        *out << name;
    } else {
        *out << "0x" << std::hex << static_cast<uint32_t>(result) << std::dec;
    }
}
