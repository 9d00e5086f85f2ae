// The process: its command line, its own image's resources, modal windows, output, its
// id.
#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CommandTail.h"
#include "platform/win32/Backend.h"
#include "res/resource.h"

namespace fw::win32 {

namespace {

// Every launcher image holds this; the packer refuses a stub without it.
[[gnu::used]] const char launcherMarker[] =
    FERROWICK_LAUNCHER_MARKER_HEAD FERROWICK_LAUNCHER_MARKER_TAIL;

// A modal dialog with no controls of its own to serve: OK (Enter) and Cancel (Esc,
// the close box) end it with their id.
INT_PTR CALLBACK plainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;  // focus to the first tab stop
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id == IDOK || id == IDCANCEL) {
                EndDialog(dialog, id);
                return TRUE;
            }
            break;
        }
        default:
            break;
    }
    return FALSE;
}

}  // namespace

namespace {

// Wide text in the ANSI code page, marked when the code page cannot express it.
CommandArgument inAnsiCodePage(const wchar_t* wide) {
    // A code page of UTF-8 expresses everything, and takes no question about it.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL lacking = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, flags, wide, -1, nullptr, 0, nullptr,
                                         utf8 ? nullptr : &lacking);
    CommandArgument argument;
    if (size > 0) {
        argument.text.resize(static_cast<std::size_t>(size));
        WideCharToMultiByte(CP_ACP, flags, wide, -1, argument.text.data(), size, nullptr, nullptr);
        argument.text.resize(static_cast<std::size_t>(size) - 1);  // its terminating NUL
    }
    argument.expressible = size > 0 && !lacking;
    return argument;
}

}  // namespace

ProcessCommandLine commandLine() {
    ProcessCommandLine result;
    const std::wstring_view line = GetCommandLineW();
    const std::optional<CommandTail> split = findCommandTail(line);
    // The program's own arguments end before the "--"; what follows it is not split.
    const std::wstring own(line.substr(0, split ? split->separator : line.size()));
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(own.c_str(), &count);
    if (wide == nullptr) {
        // As the run-time library split it, each character the code page lacks made a '?'.
        for (int i = 1; i < __argc && std::string_view(__argv[i]) != "--"; ++i) {
            result.arguments.push_back({__argv[i], true});
        }
    } else {
        for (int i = 1; i < count; ++i) {
            result.arguments.push_back(inAnsiCodePage(wide[i]));
        }
        LocalFree(wide);
    }
    if (split) {
        result.tail = inAnsiCodePage(std::wstring(line.substr(split->tail)).c_str());
    }
    return result;
}

bool moduleFileName(std::string& path) {
    // A full buffer means the path may have been cut: try again with a larger one.
    for (DWORD size = MAX_PATH; size <= 32768 * 2; size *= 2) {
        std::string buffer(size, '\0');
        const DWORD got = GetModuleFileNameA(nullptr, buffer.data(), size);
        if (got == 0) {
            return false;
        }
        if (got < size) {
            buffer.resize(got);
            path = std::move(buffer);
            return true;
        }
    }
    return false;
}

Resource findResource(const char* name, const char* type) {
    // Keeps the marker's address live, so that no linker option can drop it.
    asm volatile("" : : "r"(launcherMarker));
    Resource result;
    HRSRC info = FindResourceA(nullptr, name, type);
    if (!info) {
        return result;
    }
    const DWORD size = SizeofResource(nullptr, info);
    HGLOBAL loaded = LoadResource(nullptr, info);
    if (!loaded) {
        return result;
    }
    result.data = static_cast<const unsigned char*>(LockResource(loaded));
    result.size = size;
    result.loaded = result.data != nullptr;
    return result;
}

bool loadString(uint32_t id, std::string& text) {
    // LoadStringA cuts at the buffer's end; a full buffer asks for a larger one.
    for (int size = 256; size <= (1 << 18); size *= 2) {
        std::string buffer(static_cast<std::size_t>(size), '\0');
        const int got = LoadStringA(GetModuleHandleA(nullptr), id, buffer.data(), size);
        if (got <= 0) {
            return false;
        }
        if (got < size - 1) {
            buffer.resize(static_cast<std::size_t>(got));
            text = std::move(buffer);
            return true;
        }
    }
    return false;
}

void messageBox(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_OK);
}

int dialogBox(uint32_t templateId) {
    return static_cast<int>(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId),
                                            nullptr, plainDialogProc, 0));
}

void writeStandardOutput(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void showUsage(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_OK);
}

uint32_t processorCount() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        uint32_t count = 0;
        for (; process != 0; process &= process - 1) {
            ++count;
        }
        return count;
    }
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

void sleep(uint32_t milliseconds) {
    Sleep(milliseconds);
}

uint32_t processId() {
    return GetCurrentProcessId();
}

}  // namespace fw::win32
