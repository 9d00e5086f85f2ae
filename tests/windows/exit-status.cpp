// Runs the command line that follows its own name, waits for it and prints its exit
// status in full: "exit status N". A Windows exit status has 32 bits, of which wine's own
// exit status keeps only the lowest 8. Given "@FILE" instead, it runs the command line
// that FILE holds (UTF-8, one line), byte for byte as written there: wine would quote
// arguments given on its own command line again.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
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
    if (!command.empty() && command[0] == L'@') {
        std::ifstream file(std::filesystem::path(command.substr(1)));
        std::stringstream text;
        text << file.rdbuf();
        std::string utf8 = text.str();
        while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r')) {
            utf8.pop_back();
        }
        command.assign(static_cast<std::size_t>(MultiByteToWideChar(
                           CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0)),
                       L'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), command.data(),
                            static_cast<int>(command.size()));
        if (!file || command.empty()) {
            std::printf("cannot read the command line from the file\n");
            return 2;
        }
    }
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
