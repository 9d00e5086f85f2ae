// Command lines through the run-time library's command interpreter.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/Backend.h"

namespace fw::win32 {

int runCommand(const char* commandLine) {
    return std::system(commandLine);
}

int runHiddenCommand(const char* commandLine) {
    if (commandLine == nullptr) {
        return 1;  // as system(NULL): an interpreter is there
    }
    // The interpreter that system() runs, with the line after "/c" as system() gives it.
    std::string interpreter = "cmd.exe";
    const DWORD length = GetEnvironmentVariableA("COMSPEC", nullptr, 0);
    if (length > 1) {
        std::string comspec(length, '\0');
        const DWORD got = GetEnvironmentVariableA("COMSPEC", comspec.data(), length);
        if (got > 0 && got < length) {
            comspec.resize(got);
            interpreter = comspec;
        }
    }
    std::string line = "\"" + interpreter + "\" /c " + commandLine;
    std::fflush(stdout);
    std::fflush(stderr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // No application name: a bare "cmd.exe" is then looked for as system() looks for it.
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        return -1;
    }
    CloseHandle(process.hThread);
    DWORD status = 1;
    const bool waited = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                        GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    return waited ? static_cast<int>(status) : -1;
}

}  // namespace fw::win32
