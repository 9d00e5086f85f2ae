#include "platform/Platform.h"

namespace fw {

namespace {
const Platform* current = nullptr;
}

const Platform& os() {
    return current ? *current : hostPlatform();
}

const Platform* setPlatform(const Platform* table) {
    const Platform* previous = current;
    current = table;
    return previous;
}

}  // namespace fw
