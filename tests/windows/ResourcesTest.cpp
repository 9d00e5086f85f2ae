// The resources compiled into the launcher, read back from this test program (which
// links the same resource object) through Win32 and the backend.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace {

constexpr WORD kEnglishUs = 0x0409;

struct Bytes {
    const unsigned char* data = nullptr;
    DWORD size = 0;
};

Bytes resourceBytes(LPCSTR name, LPCSTR type) {
    HRSRC info = FindResourceExA(nullptr, type, name, kEnglishUs);
    if (!info) {
        return {};
    }
    HGLOBAL loaded = LoadResource(nullptr, info);
    return {static_cast<const unsigned char*>(LockResource(loaded)), SizeofResource(nullptr, info)};
}

uint16_t word(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t dword(const unsigned char* p) {
    return word(p) | (uint32_t{word(p + 2)} << 16);
}

// A NUL-terminated UTF-16 text of ASCII characters, as templates hold them.
std::string wideText(const unsigned char*& p) {
    std::string s;
    for (; word(p) != 0; p += 2) {
        s += static_cast<char>(word(p));
    }
    p += 2;
    return s;
}

TEST(ResourcesTest, StringsHaveTheirTexts) {
    struct Case {
        uint32_t id;
        const char* text;
    };
    const Case cases[] = {
        {0xE000, "BRASKETTLE"},
        {128, "BRASKETTLE"},
        {0xE001, "Ready"},
        {0xE700, "EXT"},
        {0xE701, "CAP"},
        {0xE702, "NUM"},
        {0xE703, "SCRL"},
        {0xE704, "OVR"},
        {0xE705, "REC"},
        {0xE800, "Show or hide the toolbar\nToggle ToolBar"},
        {0xE122, "Copy the selection and put it on the Clipboard\nCopy"},
        {0xE141, "Quit the application; prompts to save documents\nExit"},
        {0xE151, "Switch back to the previous window pane\nPrevious Pane"},
        {0xEF00, "Change the window size"},
        {0xEF13, "Activate Task List"},
    };
    for (const Case& c : cases) {
        std::string text;
        ASSERT_TRUE(fw::os().loadString(c.id, text)) << std::hex << c.id;
        EXPECT_EQ(text, c.text) << std::hex << c.id;
    }
    std::string none = "unchanged";
    EXPECT_FALSE(fw::os().loadString(0x7777, none));
}

TEST(ResourcesTest, PromptStringsCoverTheStandardRanges) {
    // Each is a prompt and a short name, except the window commands' single sentences.
    for (uint32_t id : {0xE120u, 0xE123u, 0xE125u, 0xE12Bu, 0xE135u, 0xE140u, 0xE150u, 0xE801u}) {
        std::string text;
        ASSERT_TRUE(fw::os().loadString(id, text)) << std::hex << id;
        EXPECT_NE(text.find('\n'), std::string::npos) << std::hex << id;
    }
    for (uint32_t id = 0xEF00; id <= 0xEF06; ++id) {
        std::string text;
        ASSERT_TRUE(fw::os().loadString(id, text)) << std::hex << id;
        EXPECT_EQ(text.find('\n'), std::string::npos) << std::hex << id;
    }
}

BOOL CALLBACK collectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR out) {
    reinterpret_cast<std::vector<WORD>*>(out)->push_back(language);
    return TRUE;
}
BOOL CALLBACK collectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR out) {
    EnumResourceLanguagesA(module, type, name, collectLanguage, out);
    return TRUE;
}
BOOL CALLBACK collectType(HMODULE module, LPSTR type, LONG_PTR out) {
    EnumResourceNamesA(module, type, collectName, out);
    return TRUE;
}

TEST(ResourcesTest, EveryResourceIsUsEnglish) {
    std::vector<WORD> languages;
    EnumResourceTypesA(nullptr, collectType, reinterpret_cast<LONG_PTR>(&languages));
    ASSERT_GT(languages.size(), 10u);
    for (WORD language : languages) {
        EXPECT_EQ(language, kEnglishUs);
    }
}

TEST(ResourcesTest, AboutBoxTemplate) {
    const Bytes b = resourceBytes(MAKEINTRESOURCEA(100), MAKEINTRESOURCEA(5));
    ASSERT_NE(b.data, nullptr);
    const unsigned char* p = b.data;
    EXPECT_EQ(dword(p), 0x80C800C0u);  // style
    EXPECT_EQ(dword(p + 4), 0u);       // extended style
    ASSERT_EQ(word(p + 8), 4);         // controls
    EXPECT_EQ(word(p + 10), 0);
    EXPECT_EQ(word(p + 12), 0);
    EXPECT_EQ(word(p + 14), 235);
    EXPECT_EQ(word(p + 16), 55);
    p += 18;
    EXPECT_EQ(word(p), 0);  // no menu
    p += 2;
    EXPECT_EQ(word(p), 0);  // no class of its own
    p += 2;
    EXPECT_EQ(wideText(p), "About Ferrowick");
    EXPECT_EQ(word(p), 8);
    p += 2;
    EXPECT_EQ(wideText(p), "MS Sans Serif");

    struct Control {
        uint32_t style;
        int16_t x, y, cx, cy;
        uint16_t id;
        uint16_t classAtom;  // 0x80 button, 0x82 static
        const char* text;    // null: icon ordinal 128
    };
    const Control expected[] = {
        {0x50000003, 11, 17, 20, 20, 0xFFFF, 0x82, nullptr},
        {0x50020080, 40, 10, 119, 8, 0xFFFF, 0x82, "Ferrowick Version 1.0"},
        {0x50020000, 40, 25, 119, 8, 0xFFFF, 0x82, ""},
        {0x50030001, 178, 7, 50, 14, 1, 0x80, "OK"},
    };
    for (const Control& c : expected) {
        p = b.data + ((p - b.data + 3) & ~std::ptrdiff_t{3});  // DWORD-aligned
        EXPECT_EQ(dword(p), c.style);
        EXPECT_EQ(dword(p + 4), 0u);
        EXPECT_EQ(static_cast<int16_t>(word(p + 8)), c.x);
        EXPECT_EQ(static_cast<int16_t>(word(p + 10)), c.y);
        EXPECT_EQ(static_cast<int16_t>(word(p + 12)), c.cx);
        EXPECT_EQ(static_cast<int16_t>(word(p + 14)), c.cy);
        EXPECT_EQ(word(p + 16), c.id);
        p += 18;
        EXPECT_EQ(word(p), 0xFFFF);
        EXPECT_EQ(word(p + 2), c.classAtom);
        p += 4;
        if (!c.text) {
            EXPECT_EQ(word(p), 0xFFFF);
            EXPECT_EQ(word(p + 2), 128);
            p += 4;
        } else if (*c.text) {
            EXPECT_EQ(wideText(p), c.text);
        } else {
            EXPECT_FALSE(wideText(p).empty());  // the second line's text is our own
        }
        EXPECT_EQ(word(p), 0);  // no creation data
        p += 2;
    }
    EXPECT_LE(p - b.data, static_cast<std::ptrdiff_t>(b.size));
}

TEST(ResourcesTest, VersionInformation) {
    std::string self;
    ASSERT_TRUE(fw::os().moduleFileName(self));
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(self.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(self.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, 4u);
    EXPECT_EQ(fixed->dwFileType, 1u);
    EXPECT_EQ(fixed->dwFileSubtype, 0u);

    struct Field {
        const char* name;
        const char* value;
    };
    const Field fields[] = {
        {"CompanyName", ""},
        {"FileDescription", "Ferrowick MFC Application"},
        {"FileVersion", "1, 0, 0, 1"},
        {"InternalName", "Ferrowick"},
        {"LegalTrademarks", ""},
        {"OriginalFilename", "Ferrowick.EXE"},
        {"ProductName", "Ferrowick Application"},
        {"ProductVersion", "1, 0, 0, 1"},
    };
    for (const Field& f : fields) {
        const std::string path = std::string("\\StringFileInfo\\040904B0\\") + f.name;
        char* value = nullptr;
        UINT chars = 0;
        ASSERT_TRUE(
            VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &chars))
            << f.name;
        EXPECT_STREQ(chars ? value : "", f.value) << f.name;
    }
    DWORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(*translation, 0x04B00409u);  // 0x0409, code page 1200
}

TEST(ResourcesTest, IconGroupHasTwoSixteenColourImages) {
    const Bytes group = resourceBytes(MAKEINTRESOURCEA(128), MAKEINTRESOURCEA(14));
    ASSERT_NE(group.data, nullptr);
    ASSERT_EQ(word(group.data + 4), 2);
    const int sizes[] = {32, 16};
    for (int i = 0; i < 2; ++i) {
        const unsigned char* e = group.data + 6 + 14 * i;
        EXPECT_EQ(e[0], sizes[i]);
        EXPECT_EQ(e[1], sizes[i]);
        EXPECT_EQ(e[2], 16);        // colours
        EXPECT_EQ(word(e + 6), 4);  // bits per pixel
        const uint16_t id = word(e + 12);
        const Bytes image = resourceBytes(MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));
        ASSERT_NE(image.data, nullptr);
        EXPECT_EQ(dword(image.data + 4), static_cast<uint32_t>(sizes[i]));
        EXPECT_EQ(dword(image.data + 8), static_cast<uint32_t>(2 * sizes[i]));
        EXPECT_EQ(word(image.data + 14), 4);
        EXPECT_EQ(image.size, dword(e + 8));
    }
}

TEST(ResourcesTest, ToolbarAndItsStrip) {
    const Bytes bar = resourceBytes(MAKEINTRESOURCEA(128), MAKEINTRESOURCEA(241));
    ASSERT_NE(bar.data, nullptr);
    const uint16_t expected[] = {1, 16, 15, 7, 0xE123, 0xE122, 0xE125, 0, 0xE107, 0, 0xE140};
    ASSERT_EQ(bar.size, sizeof expected);
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(word(bar.data + 2 * i), expected[i]) << i;
    }
    const Bytes strip = resourceBytes(MAKEINTRESOURCEA(131), MAKEINTRESOURCEA(2));
    ASSERT_NE(strip.data, nullptr);
    EXPECT_EQ(strip.size, 824u);
    EXPECT_EQ(dword(strip.data + 4), 96u);
    EXPECT_EQ(dword(strip.data + 8), 15u);
    EXPECT_EQ(word(strip.data + 14), 4);
}

TEST(ResourcesTest, PayloadIsPrefixedArchive) {
    const fw::Resource payload = fw::os().findResource("#132", "TIMELISTINGS");
    ASSERT_TRUE(payload.loaded);
    ASSERT_GT(payload.size, 54u + 22u);
    const unsigned char* p = payload.data;
    EXPECT_EQ(std::memcmp(p, "BM", 2), 0);
    EXPECT_EQ(dword(p + 2), 838u);
    EXPECT_EQ(dword(p + 10), 118u);
    // The information header is the toolbar strip's own.
    const Bytes strip = resourceBytes(MAKEINTRESOURCEA(131), MAKEINTRESOURCEA(2));
    ASSERT_NE(strip.data, nullptr);
    EXPECT_EQ(std::memcmp(p + 14, strip.data, 40), 0);
    EXPECT_EQ(std::memcmp(p + 54, "PK\x03\x04", 4), 0);
    // The end-of-central-directory record ends at the resource's last byte.
    EXPECT_EQ(std::memcmp(p + payload.size - 22, "PK\x05\x06", 4), 0);

    EXPECT_FALSE(fw::os().findResource("#133", "TIMELISTINGS").loaded);
    EXPECT_FALSE(fw::os().findResource("#132", "OTHERTYPE").loaded);
}

// The manifest that the loader reads for the process (type 24, id 1), and what the
// system made of it for this process, which links the same resources.
TEST(ResourcesTest, ManifestAsksForInvokerDpiAwarenessAndCommonControls6) {
    const Bytes manifest = resourceBytes(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(manifest.data, nullptr);
    const std::string text(reinterpret_cast<const char*>(manifest.data), manifest.size);
    for (const char* entry : {
             R"(level="asInvoker")",
             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
             "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
             "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
             ">true/pm</dpiAware>",
             ">PerMonitorV2, PerMonitor</dpiAwareness>",
             R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")",
         }) {
        EXPECT_NE(text.find(entry), std::string::npos) << entry;
    }

    // The loader applied it: comctl32 comes from the side-by-side store's version 6
    // assembly, not from the system folder (whose version 5 a process without the
    // manifest gets).
    HMODULE controls = LoadLibraryA("comctl32.dll");
    ASSERT_NE(controls, nullptr);
    char path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(controls, path, MAX_PATH), 0u);
    std::string loaded = path;
    for (char& c : loaded) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_NE(loaded.find("microsoft.windows.common-controls_6595b64144ccf1df_6."),
              std::string::npos)
        << path;
}

TEST(ResourcesTest, MenuAndAccelerators) {
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128));
    ASSERT_NE(menu, nullptr);
    struct Item {
        int popup;
        int position;
        UINT id;  // 0: separator
        const char* text;
    };
    const Item items[] = {
        {0, 0, 0xE141, "E&xit"},
        {1, 0, 0xE12B, "&Undo\tCtrl+Z"},
        {1, 1, 0, ""},
        {1, 2, 0xE123, "Cu&t\tCtrl+X"},
        {1, 3, 0xE122, "&Copy\tCtrl+C"},
        {1, 4, 0xE125, "&Paste\tCtrl+V"},
        {2, 0, 0xE800, "&Toolbar"},
        {2, 1, 0xE801, "&Status Bar"},
        {3, 0, 0xE140, "&About Ferrowick..."},
    };
    const char* popups[] = {"&File", "&Edit", "&View", "&Help"};
    ASSERT_EQ(GetMenuItemCount(menu), 4);
    for (int i = 0; i < 4; ++i) {
        char text[64] = {};
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, popups[i]);
    }
    for (const Item& it : items) {
        HMENU sub = GetSubMenu(menu, it.popup);
        ASSERT_NE(sub, nullptr);
        EXPECT_EQ(GetMenuItemID(sub, it.position), it.id);
        char text[64] = {};
        GetMenuStringA(sub, static_cast<UINT>(it.position), text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, it.text);
    }
    DestroyMenu(menu);

    HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128));
    ASSERT_NE(table, nullptr);
    ACCEL got[16] = {};
    const int count = CopyAcceleratorTableA(table, got, 16);
    const ACCEL expected[] = {
        {FVIRTKEY | FCONTROL, 'Z', 0xE12B}, {FVIRTKEY | FALT, VK_BACK, 0xE12B},
        {FVIRTKEY | FCONTROL, 'X', 0xE123}, {FVIRTKEY | FSHIFT, VK_DELETE, 0xE123},
        {FVIRTKEY | FCONTROL, 'C', 0xE122}, {FVIRTKEY | FCONTROL, VK_INSERT, 0xE122},
        {FVIRTKEY | FCONTROL, 'V', 0xE125}, {FVIRTKEY | FSHIFT, VK_INSERT, 0xE125},
        {FVIRTKEY, VK_F6, 0xE150},          {FVIRTKEY | FSHIFT, VK_F6, 0xE151},
    };
    ASSERT_EQ(count, static_cast<int>(std::size(expected)));
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(got[i].fVirt & ~0x80, expected[i].fVirt) << i;  // 0x80 marks the last
        EXPECT_EQ(got[i].key, expected[i].key) << i;
        EXPECT_EQ(got[i].cmd, expected[i].cmd) << i;
    }
    DestroyAcceleratorTable(table);
}

}  // namespace
