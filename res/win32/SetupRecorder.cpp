// The sample installer set's set-up program for Windows: it records each run in SETUP.LOG
// beside itself, with the command line it received and each argument as the run-time
// library split it, on a line of its own, and ends with the status in the environment
// variable FERROWICK_SETUP_STATUS (0 when there is none): so that a test can tell that
// it was launched, with what, and that its status comes back.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    char self[MAX_PATH * 4] = {};
    const DWORD got = GetModuleFileNameA(nullptr, self, sizeof self);
    if (got == 0 || got >= sizeof self) {
        return 1;
    }
    std::string log(self);
    const auto slash = log.find_last_of("\\/");
    log = (slash == std::string::npos ? std::string() : log.substr(0, slash + 1)) + "SETUP.LOG";

    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::FILE* out = std::fopen(log.c_str(), "ab");
    if (!out) {
        return 1;
    }
    std::fprintf(out, "%04u-%02u-%02u %02u:%02u:%02u SETUP.EXE ran with %d arguments\n", now.wYear,
                 now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, argc - 1);
    std::fprintf(out, "command line: %s\n", GetCommandLineA());
    for (int i = 1; i < argc; ++i) {
        std::fprintf(out, "argument: %s\n", argv[i]);
    }
    if (std::fclose(out) != 0) {
        return 1;
    }
    const char* status = std::getenv("FERROWICK_SETUP_STATUS");
    return status != nullptr ? static_cast<int>(std::strtol(status, nullptr, 10)) : 0;
}
