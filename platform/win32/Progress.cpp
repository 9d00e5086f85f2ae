// Progress as a Windows program shows it: a small window of its own, captioned as the
// notices are, with what is being done, how far it has come and a progress bar, and no
// way to cancel. It comes up only once the work has gone on for a second, so that short
// work shows nothing, and it lives on a thread of its own with its own message loop, so
// that it repaints and can be moved while the caller's thread does the work.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "platform/ProgressText.h"
#include "platform/win32/Backend.h"
#include "res/resource.h"

namespace fw::win32 {

namespace {

constexpr DWORD kShowAfterMilliseconds = 1000;
constexpr UINT kRefreshMilliseconds = 100;
constexpr UINT_PTR kRefreshTimer = 1;
constexpr const char* kWindowClass = "Ferrowick.Progress";
constexpr int kBarRange = 1000;  // the bar counts thousandths

struct ProgressWindow {
    // Set by progressBegin before the thread starts, then only read.
    std::string caption;
    std::string what;
    Progress total;
    HANDLE ending = nullptr;  // set (manual reset) when the work has ended
    // Written by the working thread, read by the window's.
    std::atomic<std::uint64_t> items{0};
    std::atomic<std::uint64_t> bytes{0};
    std::thread thread;
    // The window's thread only.
    HWND counts = nullptr;
    HWND bar = nullptr;
    HFONT font = nullptr;
    std::string shownCounts;
    int shownPermille = -1;
};

ProgressWindow* current = nullptr;

bool ended(const ProgressWindow& progress) {
    return WaitForSingleObject(progress.ending, 0) == WAIT_OBJECT_0;
}

// Shows what is done now; only what changed is drawn again.
void refresh(ProgressWindow& progress) {
    const Progress done{progress.items.load(std::memory_order_relaxed),
                        progress.bytes.load(std::memory_order_relaxed)};
    std::string counts = progressCounts(done, progress.total);
    if (counts != progress.shownCounts) {
        SetWindowTextA(progress.counts, counts.c_str());
        progress.shownCounts = std::move(counts);
    }
    const int permille = static_cast<int>(progressPermille(done, progress.total));
    if (permille != progress.shownPermille) {
        SendMessageA(progress.bar, PBM_SETPOS, static_cast<WPARAM>(permille), 0);
        progress.shownPermille = permille;
    }
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* progress = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
        case WM_TIMER:
            if (progress != nullptr && progress->counts != nullptr) {
                refresh(*progress);
                // The work ended while the window is being moved: the move ends, so that
                // the loop below sees the end.
                if (ended(*progress)) {
                    SendMessageA(window, WM_CANCELMODE, 0, 0);
                }
            }
            return 0;
        case WM_CLOSE:
            return 0;  // nothing cancels the work
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool registerWindowClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassExA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND child(HWND parent, const char* windowClass, const char* text, DWORD style, RECT place,
           HFONT font) {
    const HWND control =
        CreateWindowExA(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, place.left, place.top,
                        place.right - place.left, place.bottom - place.top, parent, nullptr,
                        GetModuleHandleA(nullptr), nullptr);
    if (control != nullptr && font != nullptr) {
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    return control;
}

// The common controls' progress bar class. Their DLL is loaded here, from the system
// folder, rather than imported: an import is loaded before the program's first line,
// while the launcher's own folder is still searched for the DLLs it needs in turn.
bool registerProgressBarClass() {
    const HMODULE controls = LoadLibraryExA("comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (controls == nullptr) {
        return false;
    }
    using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init = reinterpret_cast<Init>(
        reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControlsEx")));
    const INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
    // Kept loaded: the class lives in it as long as the window may.
    return init != nullptr && init(&classes) != FALSE;
}

// The window, in the lower part of the work area, below where the notices come up (in
// its middle): two lines of text above the bar, laid out for the screen's resolution in
// the font of message boxes.
HWND createWindow(ProgressWindow& progress) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!registerProgressBarClass()) {
        return nullptr;
    }
    if (!registerWindowClass(instance)) {
        return nullptr;
    }
    const HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    const auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        progress.font = CreateFontIndirectA(&metrics.lfMessageFont);
    }

    constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION;  // movable; no buttons
    RECT frame{0, 0, scaled(400), scaled(104)};
    AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const HWND window = CreateWindowExA(0, kWindowClass, progress.caption.c_str(), kStyle,
                                        work.left + (work.right - work.left - width) / 2,
                                        work.top + (work.bottom - work.top) * 2 / 3 - height / 2,
                                        width, height, nullptr, nullptr, instance, &progress);
    if (window == nullptr) {
        return nullptr;
    }
    const int left = scaled(16);
    const int right = scaled(400 - 16);
    child(window, "STATIC", progress.what.c_str(), SS_LEFT | SS_NOPREFIX,
          RECT{left, scaled(14), right, scaled(34)}, progress.font);
    progress.counts = child(window, "STATIC", "", SS_LEFT | SS_NOPREFIX,
                            RECT{left, scaled(38), right, scaled(58)}, progress.font);
    progress.bar =
        child(window, PROGRESS_CLASSA, "", 0, RECT{left, scaled(66), right, scaled(86)}, nullptr);
    SendMessageA(progress.bar, PBM_SETRANGE32, 0, kBarRange);
    refresh(progress);
    SetTimer(window, kRefreshTimer, kRefreshMilliseconds, nullptr);
    // Not activated: a notice that is up (the patience notice) keeps the keyboard.
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    return window;
}

// The window's thread: nothing unless the work is still going on after a second; then
// the window, served until the work ends.
void serveWindow(ProgressWindow& progress) {
    if (WaitForSingleObject(progress.ending, kShowAfterMilliseconds) != WAIT_TIMEOUT) {
        return;
    }
    const HWND window = createWindow(progress);
    while (window != nullptr) {
        const DWORD woke =
            MsgWaitForMultipleObjects(1, &progress.ending, FALSE, INFINITE, QS_ALLINPUT);
        if (woke != WAIT_OBJECT_0 + 1) {
            break;  // the end (or a wait that failed)
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    if (window != nullptr) {
        DestroyWindow(window);
    }
    if (progress.font != nullptr) {
        DeleteObject(progress.font);
    }
}

}  // namespace

void progressBegin(const char* caption, const char* what, const Progress& total) {
    if (current != nullptr) {
        return;
    }
    auto* progress = new (std::nothrow) ProgressWindow;
    if (progress == nullptr) {
        return;
    }
    progress->caption = caption != nullptr ? caption : "";
    progress->what = what != nullptr ? what : "";
    progress->total = total;
    progress->ending = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (progress->ending == nullptr) {
        delete progress;
        return;  // no window then; the work goes on
    }
    try {
        progress->thread = std::thread(serveWindow, std::ref(*progress));
    } catch (const std::system_error&) {
        CloseHandle(progress->ending);
        delete progress;
        return;
    }
    current = progress;
}

void progressUpdate(const Progress& done) {
    if (current != nullptr) {
        current->items.store(done.items, std::memory_order_relaxed);
        current->bytes.store(done.bytes, std::memory_order_relaxed);
    }
}

void progressEnd() {
    if (current == nullptr) {
        return;
    }
    SetEvent(current->ending);
    current->thread.join();
    CloseHandle(current->ending);
    delete current;
    current = nullptr;
}

}  // namespace fw::win32
