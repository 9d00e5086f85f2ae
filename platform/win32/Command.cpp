// Command lines through the run-time library's command interpreter.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/Backend.h"

namespace fw::win32 {

namespace {

// The command interpreter: COMSPEC when it is set, else cmd.exe of the system folder by
// its full path. A bare "cmd.exe" would be looked for beside the launcher first.
std::string commandInterpreter() {
    const DWORD length = GetEnvironmentVariableA("COMSPEC", nullptr, 0);
    if (length > 1) {
        std::string comspec(length, '\0');
        const DWORD got = GetEnvironmentVariableA("COMSPEC", comspec.data(), length);
        if (got > 0 && got < length) {
            comspec.resize(got);
            return comspec;
        }
    }
    std::string folder(MAX_PATH, '\0');
    const UINT got = GetSystemDirectoryA(folder.data(), MAX_PATH);
    folder.resize(got > 0 && got < MAX_PATH ? got : 0);
    return folder.empty() ? std::string("C:\\Windows\\System32\\cmd.exe") : folder + "\\cmd.exe";
}

}  // namespace

int runCommand(const char* commandLine) {
    // system() runs COMSPEC, and looks for a bare "cmd.exe" when it is not set: it is set
    // to the system's own interpreter first.
    if (GetEnvironmentVariableA("COMSPEC", nullptr, 0) <= 1) {
        _putenv(("COMSPEC=" + commandInterpreter()).c_str());
    }
    return std::system(commandLine);
}

int runHiddenCommand(const char* commandLine) {
    if (commandLine == nullptr) {
        return 1;  // as system(NULL): an interpreter is there
    }
    // The interpreter that system() runs, with the line after "/c" as system() gives it.
    // Built by appending: GCC 12 at -O3 sees a false overlap in "\"" + std::string&&.
    std::string line = "\"";
    line += commandInterpreter();
    line += "\" /c ";
    line += commandLine;
    std::fflush(stdout);
    std::fflush(stderr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // No application name: the interpreter is named by its full path in the line.
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
