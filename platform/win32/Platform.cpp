#include "platform/win32/Backend.h"

namespace fw {

const Platform& hostPlatform() {
    static const Platform table = [] {
        win32::useAnsiMultibyteCodePage();
#define FW_WIN32_ENTRY(result, name, parameters) .name = win32::name,
        return Platform{FW_PLATFORM_CALLS(FW_WIN32_ENTRY)};
#undef FW_WIN32_ENTRY
    }();
    return table;
}

}  // namespace fw
