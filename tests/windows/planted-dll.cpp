// A DLL that a test plants beside the launcher under the name of one the system loads by
// name: if it is ever loaded, it says so in C:\planted-dll-loaded.txt, with its path.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    char name[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(self, name, MAX_PATH);
    const HANDLE mark =
        CreateFileA("C:\\planted-dll-loaded.txt", FILE_APPEND_DATA,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (mark != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(mark, name, length, &written, nullptr);
        WriteFile(mark, "\r\n", 2, &written, nullptr);
        CloseHandle(mark);
    }
    return TRUE;
}
