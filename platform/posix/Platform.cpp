#include "platform/posix/Backend.h"

namespace fw {

const Platform& hostPlatform() {
#define FW_POSIX_ENTRY(result, name, parameters) .name = posix::name,
    static const Platform table = {FW_PLATFORM_CALLS(FW_POSIX_ENTRY)};
#undef FW_POSIX_ENTRY
    return table;
}

}  // namespace fw
