// What Windows' own calls read of a launcher's icon and version, one line each:
//   launcher-looks LAUNCHER.exe
// the version strings GetFileVersionInfo and VerQueryValue give (in the first
// translation), the fixed file and product versions, how many icons ExtractIconEx finds
// with the colour at the middle of its first large icon, and the size of the image the
// loader picks from the first icon group for a 48-pixel icon. Status 1 when one is not
// there.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const kKeys[] = {"ProductName",    "CompanyName",    "FileDescription", "FileVersion",
                             "ProductVersion", "LegalCopyright", "OriginalFilename"};

bool printVersion(const char* path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    std::vector<char> info(size);
    if (size == 0 || !GetFileVersionInfoA(path, 0, size, info.data())) {
        std::printf("version: none\n");
        return false;
    }
    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < sizeof *translation) {
        std::printf("version: no translation\n");
        return false;
    }
    for (const char* key : kKeys) {
        char query[128];
        std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translation->language,
                      translation->codePage, key);
        char* value = nullptr;
        if (VerQueryValueA(info.data(), query, reinterpret_cast<void**>(&value), &length)) {
            std::printf("%s=%s\n", key, value);
        }
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    if (!VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length)) {
        return false;
    }
    std::printf("fixed file version: %lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16,
                fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
                fixed->dwFileVersionLS & 0xFFFF);
    std::printf("fixed product version: %lu.%lu.%lu.%lu\n", fixed->dwProductVersionMS >> 16,
                fixed->dwProductVersionMS & 0xFFFF, fixed->dwProductVersionLS >> 16,
                fixed->dwProductVersionLS & 0xFFFF);
    return true;
}

// The colour at the middle of an icon, as RRGGBB.
std::string middleColour(HICON icon) {
    ICONINFO parts{};
    if (!GetIconInfo(icon, &parts)) {
        return "none";
    }
    BITMAP bitmap{};
    GetObjectA(parts.hbmColor, sizeof bitmap, &bitmap);
    const HDC dc = CreateCompatibleDC(nullptr);
    const HGDIOBJ old = SelectObject(dc, parts.hbmColor);
    const COLORREF colour = GetPixel(dc, bitmap.bmWidth / 2, bitmap.bmHeight / 2);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(parts.hbmColor);
    DeleteObject(parts.hbmMask);
    char text[16];
    std::snprintf(text, sizeof text, "%02X%02X%02X", GetRValue(colour), GetGValue(colour),
                  GetBValue(colour));
    return text;
}

bool printIcons(const char* path) {
    const UINT groups = ExtractIconExA(path, -1, nullptr, nullptr, 0);
    HICON large = nullptr;
    ExtractIconExA(path, 0, &large, nullptr, 1);
    std::printf("icon groups: %u\n", groups);
    if (large == nullptr) {
        return false;
    }
    std::printf("large icon middle: %s\n", middleColour(large).c_str());
    DestroyIcon(large);

    const HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EnumResourceNamesA(
        module, MAKEINTRESOURCEA(14),
        [](HMODULE m, LPCSTR, LPSTR name, LONG_PTR) -> BOOL {
            const HRSRC group = FindResourceA(m, name, MAKEINTRESOURCEA(14));
            auto* directory = static_cast<BYTE*>(LockResource(LoadResource(m, group)));
            const int id = LookupIconIdFromDirectoryEx(directory, TRUE, 48, 48, LR_DEFAULTCOLOR);
            const HRSRC image = FindResourceA(m, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));
            ICONINFO parts{};
            BITMAP bitmap{};
            const HICON icon = CreateIconFromResourceEx(
                static_cast<BYTE*>(LockResource(LoadResource(m, image))), SizeofResource(m, image),
                TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR);
            if (icon != nullptr && GetIconInfo(icon, &parts)) {
                GetObjectA(parts.hbmColor, sizeof bitmap, &bitmap);
                DeleteObject(parts.hbmColor);
                DeleteObject(parts.hbmMask);
            }
            std::printf("first group, for 48 pixels: %ldx%ld\n", bitmap.bmWidth, bitmap.bmHeight);
            if (icon != nullptr) {
                DestroyIcon(icon);
            }
            return FALSE;
        },
        0);
    FreeLibrary(module);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: launcher-looks LAUNCHER.exe\n", stderr);
        return 2;
    }
    const bool version = printVersion(argv[1]);
    const bool icons = printIcons(argv[1]);
    return version && icons ? 0 : 1;
}
