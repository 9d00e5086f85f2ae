// Programs started: a command line through the run-time library's command interpreter,
// or a program directly.
#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

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

// ERROR_ELEVATION_REQUIRED, which mingw-w64's headers lack.
constexpr DWORD kErrorElevationRequired = 740;

// Waits for a started process and takes its exit status; false when that cannot be had.
bool waitForExit(HANDLE process, uint32_t& status) {
    DWORD code = 0;
    const bool waited = WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
                        GetExitCodeProcess(process, &code);
    const DWORD error = GetLastError();
    CloseHandle(process);
    if (!waited) {
        SetLastError(error);
        return false;
    }
    status = code;
    return true;
}

// A program whose manifest asks for an administrator is started as the shell starts it,
// which asks the user to allow it (as the command interpreter does for such a program).
bool runElevated(const char* program, const char* arguments, uint32_t& status) {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpFile = program;
    info.lpParameters = arguments;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info)) {
        return false;
    }
    if (info.hProcess == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return waitForExit(info.hProcess, status);
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

bool runProgram(const char* program, const char* arguments, uint32_t& status) {
    if (program == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // The program's own path quoted, then its arguments as they are: the program splits
    // them itself, by whatever rule it has. (Built by appending: GCC 12 at -O3 sees a
    // false overlap in "\"" + std::string&&.)
    std::string line = "\"";
    line += program;
    line += '"';
    if (arguments != nullptr && *arguments != '\0') {
        line += ' ';
        line += arguments;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(program, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        return GetLastError() == kErrorElevationRequired && runElevated(program, arguments, status);
    }
    CloseHandle(process.hThread);
    return waitForExit(process.hProcess, status);
}

}  // namespace fw::win32
