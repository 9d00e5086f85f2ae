// The sample installer set's set-up program for Windows: it records each run, with its
// arguments, in SETUP.LOG beside itself, so that a test can tell that it was launched.
#include <windows.h>

#include <cstdio>
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
    std::fprintf(out, "%04u-%02u-%02u %02u:%02u:%02u SETUP.EXE ran:", now.wYear, now.wMonth,
                 now.wDay, now.wHour, now.wMinute, now.wSecond);
    for (int i = 1; i < argc; ++i) {
        std::fprintf(out, " %s", argv[i]);
    }
    std::fputs("\n", out);
    return std::fclose(out) == 0 ? 0 : 1;
}
