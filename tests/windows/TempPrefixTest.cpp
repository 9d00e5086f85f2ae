// The Windows test prefix's cleaning (run under wine): names that a plain Win32 path
// cannot reach, because the path loses its trailing blanks and dots, must still go, and
// in one pass: a cleaning that goes by the listing and retries what it cannot reach
// never ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TempPrefix.h"

namespace {

bool present(const std::wstring& verbatimPath) {
    return GetFileAttributesW(verbatimPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Makes the folders and a read-only file in the last one, all through "\\?\" paths.
void plant(const std::vector<std::wstring>& folders, const std::wstring& file) {
    for (const std::wstring& folder : folders) {
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_TRUE(present(folder));
    }
    const HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    ASSERT_TRUE(present(file));
}

TEST(TempPrefixTest, RemovesNamesOnlyVerbatimPathsReach) {
    struct Case {
        std::vector<std::wstring> folders;
        std::wstring file;
    };
    const std::vector<Case> cases = {
        {{L"\\\\?\\C:\\Temp", L"\\\\?\\C:\\Temp\\_Download", L"\\\\?\\C:\\Temp\\_Download\\_UnZip",
          L"\\\\?\\C:\\Temp\\_Download\\_UnZip\\disk1 "},
         L"\\\\?\\C:\\Temp\\_Download\\_UnZip\\disk1 \\SETUP.EXE "},
        {{L"\\\\?\\C:\\dotted.", L"\\\\?\\C:\\dotted.\\in "}, L"\\\\?\\C:\\dotted.\\in \\x."},
        {{L"\\\\?\\C:\\top "}, L"\\\\?\\C:\\top \\plain.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file.begin(), c.file.end()));
        plant(c.folders, c.file);
        {
            fw::test::TempPrefix prefix;
            EXPECT_FALSE(present(c.folders.front()));
            plant(c.folders, c.file);
        }
        // What the test left behind goes at its end too.
        EXPECT_FALSE(present(c.folders.front()));
    }
    // The fresh prefix's own folders stay.
    EXPECT_TRUE(present(L"\\\\?\\C:\\windows"));
}

}  // namespace
