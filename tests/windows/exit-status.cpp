// Runs the command line that follows its own name, waits for it and prints its exit
// status in full: "exit status N". A Windows exit status has 32 bits, of which wine's own
// exit status keeps only the lowest 8.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
    const wchar_t* line = GetCommandLineW();
    // Past this program's own name, as the system reads it: quoted, or up to a blank.
    if (*line == L'"') {
        do {
            ++line;
        } while (*line != L'\0' && *line != L'"');
        if (*line == L'"') {
            ++line;
        }
    } else {
        while (*line != L'\0' && *line != L' ' && *line != L'\t') {
            ++line;
        }
    }
    while (*line == L' ' || *line == L'\t') {
        ++line;
    }
    std::wstring command(line);  // CreateProcessW may write into it
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::printf("cannot start it: error %lu\n", GetLastError());
        return 2;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    std::printf("exit status %lu\n", status);
    return 0;
}
