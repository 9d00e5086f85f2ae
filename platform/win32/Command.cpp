// Command lines through the run-time library's command interpreter.
#include <cstdlib>

#include "platform/win32/Backend.h"

namespace fw::win32 {

int runCommand(const char* commandLine) {
    return std::system(commandLine);
}

}  // namespace fw::win32
