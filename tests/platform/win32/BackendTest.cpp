// The Win32 backend against the real calls (run under wine): the behaviour that the
// core relies on and that a wrong flag or a misread result would break.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Mbcs.h"
#include "platform/Platform.h"
#include "tests/support/TempPrefix.h"

namespace {

const fw::Platform& os() {
    return fw::os();
}

bool writeWhole(const char* path, const std::string& data, uint32_t attributes = 0x20) {
    const fw::FileHandle f = os().createFile(path, attributes, false);
    if (f == fw::kInvalidFile) {
        return false;
    }
    const bool ok = os().writeFile(f, data.data(), data.size());
    return os().closeFile(f) && ok;
}

FILETIME lastWrite(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(path, GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

TEST(BackendTest, CreateFileAppliesAttributes) {
    fw::test::TempPrefix prefix;
    ASSERT_TRUE(os().createDirectory("C:\\W"));
    EXPECT_FALSE(os().createDirectory("C:\\W"));  // exists already

    struct Case {
        const char* path;
        uint32_t attributes;
    };
    const Case cases[] = {
        {"C:\\W\\plain.txt", 0x20}, {"C:\\W\\ro.txt", 0x21}, {"C:\\W\\hidden.txt", 0x22}};
    for (const Case& c : cases) {
        ASSERT_TRUE(writeWhole(c.path, "data", c.attributes)) << c.path;
        EXPECT_EQ(os().getFileAttributes(c.path) & 0x27, c.attributes) << c.path;
    }
    // A read-only file cannot be removed. (Replacing it is refused on Windows, but not
    // under wine run by root, as CI runs it: root may write a file of mode 0444.)
    EXPECT_FALSE(os().removeFile("C:\\W\\ro.txt"));
    EXPECT_TRUE(os().removeFile("C:\\W\\plain.txt"));
    EXPECT_EQ(os().getFileAttributes("C:\\W\\plain.txt"), fw::kInvalidAttributes);
}

TEST(BackendTest, OpenShareModesAllowReadersButNoWriterBesideAWriter) {
    fw::test::TempPrefix prefix;
    ASSERT_TRUE(writeWhole("C:\\s.bin", "abc"));
    const fw::FileHandle a = os().openFile("C:\\s.bin");
    const fw::FileHandle b = os().openFile("C:\\s.bin");
    EXPECT_NE(a, fw::kInvalidFile);
    EXPECT_NE(b, fw::kInvalidFile);  // FILE_SHARE_READ
    EXPECT_EQ(os().createFile("C:\\s.bin", 0x20, false), fw::kInvalidFile);
    os().closeFile(a);
    os().closeFile(b);
    const fw::FileHandle w = os().createFile("C:\\s.bin", 0x20, true);
    ASSERT_NE(w, fw::kInvalidFile);
    EXPECT_EQ(os().openFile("C:\\s.bin"), fw::kInvalidFile);  // share mode 0
    os().closeFile(w);
    EXPECT_EQ(os().openFile("C:\\missing.bin"), fw::kInvalidFile);
}

TEST(BackendTest, ReadSeekAndWriteBack) {
    fw::test::TempPrefix prefix;
    const std::string data(70000, 'x');
    ASSERT_TRUE(writeWhole("C:\\r.bin", data + "END"));
    const fw::FileHandle f = os().openFile("C:\\r.bin");
    ASSERT_NE(f, fw::kInvalidFile);
    EXPECT_EQ(os().seekFile(f, 0, fw::SeekOrigin::end), 70003);
    EXPECT_EQ(os().seekFile(f, -3, fw::SeekOrigin::current), 70000);
    char tail[8] = {};
    EXPECT_EQ(os().readFile(f, tail, sizeof tail), 3);
    EXPECT_STREQ(tail, "END");
    EXPECT_EQ(os().readFile(f, tail, sizeof tail), 0);  // at the end
    EXPECT_EQ(os().seekFile(f, -1, fw::SeekOrigin::begin), -1);
    std::vector<char> all(80000);
    EXPECT_EQ(os().seekFile(f, 0, fw::SeekOrigin::begin), 0);
    EXPECT_EQ(os().readFile(f, all.data(), all.size()), 70003);
    // At an offset; at and past the end nothing is read.
    EXPECT_EQ(os().readFileAt(f, tail, 3, 70000), 3);
    EXPECT_EQ(std::string(tail, 3), "END");
    EXPECT_EQ(os().readFileAt(f, tail, sizeof tail, 69999), 4);
    EXPECT_EQ(os().readFileAt(f, tail, sizeof tail, 70003), 0);
    EXPECT_EQ(os().readFileAt(f, tail, sizeof tail, uint64_t{1} << 40), 0);
    // Writing to a handle opened for reading fails.
    EXPECT_FALSE(os().writeFile(f, "z", 1));
    os().closeFile(f);
}

TEST(BackendTest, ZeroTimesAreLeftAlone) {
    fw::test::TempPrefix prefix;
    ASSERT_TRUE(writeWhole("C:\\t.bin", "t"));
    const fw::FileTime set = fw::FileTime::fromTicks(129000000000000000ULL);
    const fw::FileTime zero{};
    fw::FileHandle f = os().createFile("C:\\t.bin", 0x20, true);
    ASSERT_TRUE(os().setFileTimes(f, nullptr, nullptr, &set));
    os().closeFile(f);
    FILETIME got = lastWrite("C:\\t.bin");
    EXPECT_EQ(fw::FileTime(got.dwLowDateTime, got.dwHighDateTime), set);

    // A handle that may change attributes but does not empty the file.
    HANDLE h =
        CreateFileA("C:\\t.bin", FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(os().setFileTimes(reinterpret_cast<fw::FileHandle>(h), &zero, &zero, &zero));
    CloseHandle(h);
    got = lastWrite("C:\\t.bin");
    EXPECT_EQ(fw::FileTime(got.dwLowDateTime, got.dwHighDateTime), set);
}

TEST(BackendTest, ListingEndsWithNoMoreFiles) {
    fw::test::TempPrefix prefix;
    ASSERT_TRUE(os().createDirectory("C:\\L"));
    ASSERT_TRUE(os().createDirectory("C:\\L\\sub"));
    ASSERT_TRUE(writeWhole("C:\\L\\a.txt", "a"));
    ASSERT_TRUE(writeWhole("C:\\L\\b.txt", "b", 0x21));

    fw::FindEntry entry;
    const fw::FindHandle find = os().findFirst("C:\\L\\*", entry);
    ASSERT_NE(find, fw::kInvalidFind);
    std::vector<fw::FindEntry> seen{entry};
    fw::FindStep step;
    while ((step = os().findNext(find, entry)) == fw::FindStep::entry) {
        seen.push_back(entry);
    }
    os().findClose(find);
    EXPECT_EQ(step, fw::FindStep::end);
    ASSERT_EQ(seen.size(), 5u);  // ".", "..", two files, one folder
    for (const fw::FindEntry& e : seen) {
        const bool folder = e.name == "." || e.name == ".." || e.name == "sub";
        EXPECT_EQ((e.attributes & fw::kAttrDirectory) != 0, folder) << e.name;
        if (e.name == "b.txt") {
            EXPECT_TRUE(e.attributes & fw::kAttrReadOnly);
        }
    }
    EXPECT_EQ(os().findFirst("C:\\NoSuchFolder\\*", entry), fw::kInvalidFind);
}

// Over a read-only destination Windows refuses the copy; wine run by root does not. A
// destination with a second hard link, written by a copy or a create, becomes a file of
// its own: the other link keeps its data.
TEST(BackendTest, CopyAndCreateReplaceAFileButNotItsOtherHardLinks) {
    fw::test::TempPrefix prefix;
    ASSERT_TRUE(writeWhole("C:\\src.txt", "new"));
    for (const bool byCopy : {true, false}) {
        SCOPED_TRACE(byCopy ? "copy" : "create");
        ASSERT_TRUE(writeWhole("C:\\dst.txt", "old"));
        ASSERT_TRUE(writeWhole("C:\\other.txt", "keep"));
        DeleteFileA("C:\\linked.txt");
        ASSERT_TRUE(CreateHardLinkA("C:\\linked.txt", "C:\\other.txt", nullptr));
        for (const char* target : {"C:\\dst.txt", "C:\\linked.txt"}) {
            EXPECT_TRUE(byCopy ? os().copyFile("C:\\src.txt", target) : writeWhole(target, "new"));
            EXPECT_EQ(fw::test::readHostFile(target), "new");
        }
        EXPECT_EQ(fw::test::readHostFile("C:\\other.txt"), "keep");
    }
    EXPECT_FALSE(os().copyFile("C:\\none.txt", "C:\\x.txt"));
    EXPECT_EQ(os().lastError(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

// A log's text: appended with CR LF line ends and its bytes as they are, beside a reader
// that lets others write; never into a file with other hard links, or a folder.
TEST(BackendTest, AppendedTextGoesAfterWhatIsThereWithCrLf) {
    fw::test::TempPrefix prefix;
    ASSERT_TRUE(os().appendText("C:\\log.txt", "one \xE9\n"));
    const HANDLE reader =
        CreateFileA("C:\\log.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(os().appendText("c:\\LOG.TXT", "two\r\nthree\n\n"));
    CloseHandle(reader);
    EXPECT_EQ(fw::test::readHostFile("C:\\log.txt"), "one \xE9\r\ntwo\r\nthree\r\n\r\n");

    ASSERT_TRUE(writeWhole("C:\\other.txt", "keep"));
    ASSERT_TRUE(CreateHardLinkA("C:\\linked.txt", "C:\\other.txt", nullptr));
    ASSERT_TRUE(os().createDirectory("C:\\Folder"));
    for (const char* refused : {"C:\\linked.txt", "C:\\Folder", "C:\\Missing\\log.txt"}) {
        EXPECT_FALSE(os().appendText(refused, "x\n")) << refused;
    }
    EXPECT_EQ(fw::test::readHostFile("C:\\other.txt"), "keep");
}

// Started directly, with its arguments as they are, its status in all its bits; and why
// it could not be started, in the system's words.
TEST(BackendTest, AProgramStartedDirectlyGivesItsExitStatus) {
    char system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
    const std::string interpreter = std::string(system) + "\\cmd.exe";
    struct Case {
        const char* arguments;
        uint32_t status;
    };
    const Case cases[] = {
        {"/c exit 3010", 3010}, {"/c exit 0", 0}, {"/c exit -1073741819", 0xC0000005}};
    for (const Case& c : cases) {
        uint32_t status = 1;
        ASSERT_TRUE(os().runProgram(interpreter.c_str(), c.arguments, status)) << c.arguments;
        EXPECT_EQ(status, c.status) << c.arguments;
    }
    uint32_t status = 1;
    EXPECT_FALSE(os().runProgram("C:\\NoSuchFolder\\NoSuchProgram.exe", "", status));
    const uint32_t error = os().lastError();
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
    std::string words;
    EXPECT_TRUE(os().errorText(error, words));
    EXPECT_FALSE(words.empty());
    EXPECT_NE(words.back(), '\n');
    EXPECT_FALSE(os().errorText(0xDEADBEEF, words));
}

// The log's clock and the process's id.
TEST(BackendTest, LocalTimeAndProcessId) {
    SYSTEMTIME before{};
    fw::SystemTime now;
    SYSTEMTIME after{};
    for (int attempt = 0; attempt < 10; ++attempt) {
        GetLocalTime(&before);
        os().localTime(now);
        GetLocalTime(&after);
        if (before.wSecond == after.wSecond) {
            break;
        }
    }
    EXPECT_EQ(now.year, before.wYear);
    EXPECT_EQ(now.month, before.wMonth);
    EXPECT_EQ(now.day, before.wDay);
    EXPECT_EQ(now.hour, before.wHour);
    EXPECT_EQ(now.minute, before.wMinute);
    EXPECT_EQ(now.second, before.wSecond);
    EXPECT_GE(now.milliseconds, before.wMilliseconds);
    EXPECT_LE(now.milliseconds, after.wMilliseconds);
    EXPECT_EQ(os().processId(), GetCurrentProcessId());
}

TEST(BackendTest, SetsAttributesAndHoldsOneInstance) {
    fw::test::TempPrefix prefix;
    ASSERT_TRUE(writeWhole("C:\\a.txt", "a", 0x21));
    EXPECT_TRUE(os().setFileAttributes("C:\\a.txt", 0x20));
    EXPECT_EQ(os().getFileAttributes("C:\\a.txt") & 0x21, 0x20u);
    EXPECT_TRUE(os().removeFile("C:\\a.txt"));
    EXPECT_FALSE(os().setFileAttributes("C:\\a.txt", 0x20));
    // The process holds the lock file once it has it; nobody else may open it, not even
    // to read, and it is gone when given up.
    ASSERT_EQ(os().makeOwnFolder("C:\\Locks", false), fw::FolderVerdict::made);
    EXPECT_TRUE(os().claimSingleInstance("C:\\Locks\\run.lock"));
    EXPECT_TRUE(os().claimSingleInstance("C:\\Locks\\run.lock"));
    const HANDLE other = CreateFileA("C:\\Locks\\run.lock", GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    os().releaseSingleInstance();
    EXPECT_EQ(os().getFileAttributes("C:\\Locks\\run.lock"), fw::kInvalidAttributes);
    // Held by another: refused. (A second handle here stands for another process.)
    const HANDLE held = CreateFileA("C:\\Locks\\run.lock", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(os().claimSingleInstance("C:\\Locks\\run.lock"));
    CloseHandle(held);
    EXPECT_TRUE(os().claimSingleInstance("C:\\Locks\\run.lock"));
    os().releaseSingleInstance();
}

// Wine stores no access list: a folder's descriptor is made up from its Unix owner and
// mode. What can be shown here is that the real calls succeed and read back as the
// judgement expects: a folder made is the launcher's, and is accepted the second time.
TEST(BackendTest, MakesAndChecksTheLaunchersOwnFolders) {
    fw::test::TempPrefix prefix;
    EXPECT_EQ(os().makeOwnFolder("C:\\Own", false), fw::FolderVerdict::made);
    EXPECT_EQ(os().makeOwnFolder("C:\\Own", false), fw::FolderVerdict::accepted);
    EXPECT_EQ(os().makeOwnFolder("C:\\OWN\\Product", true), fw::FolderVerdict::made);
    EXPECT_EQ(os().makeOwnFolder("C:\\Own\\Product", true), fw::FolderVerdict::accepted);
    ASSERT_TRUE(writeWhole("C:\\Own\\file", "f"));
    EXPECT_EQ(os().makeOwnFolder("C:\\Own\\file", false), fw::FolderVerdict::occupied);
    EXPECT_EQ(os().makeOwnFolder("C:\\Missing\\Own", false), fw::FolderVerdict::failed);
    EXPECT_EQ(os().lastError(), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));

    // Emptying: what no ANSI path reaches goes too (a name that ends in a blank, one the
    // code page cannot express), read-only files and folders are made writable first, and
    // the folder itself stays.
    ASSERT_TRUE(CreateDirectoryW(L"\\\\?\\C:\\Own\\blank ", nullptr));
    ASSERT_TRUE(CreateDirectoryW(L"\\\\?\\C:\\Own\\blank \\\u6570\u636E\U0001F600", nullptr));
    ASSERT_TRUE(writeWhole("C:\\Own\\Product\\ro.txt", "r", 0x21));
    ASSERT_TRUE(SetFileAttributesA("C:\\Own\\Product", FILE_ATTRIBUTE_READONLY));
    std::string failed;
    EXPECT_TRUE(os().emptyFolder("C:\\Own", failed)) << failed << " " << os().lastError();
    EXPECT_EQ(os().getFileAttributes("C:\\Own") & fw::kAttrDirectory, fw::kAttrDirectory);
    WIN32_FIND_DATAA found;
    const HANDLE listing = FindFirstFileA("C:\\Own\\*", &found);
    int entries = 0;
    for (BOOL more = listing != INVALID_HANDLE_VALUE; more; more = FindNextFileA(listing, &found)) {
        entries += std::string(found.cFileName) != "." && std::string(found.cFileName) != "..";
    }
    FindClose(listing);
    EXPECT_EQ(entries, 0);
    EXPECT_FALSE(os().emptyFolder("C:\\Missing", failed));
    EXPECT_EQ(failed, "C:\\Missing");

    std::string text;
    ASSERT_TRUE(os().errorText(ERROR_ACCESS_DENIED, text));
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
}

TEST(BackendTest, ProcessPathsAndCodePage) {
    std::string self, cwd;
    ASSERT_TRUE(os().moduleFileName(self));
    EXPECT_EQ(self.substr(self.size() - 4), ".exe");
    EXPECT_EQ(self[1], ':');
    ASSERT_TRUE(os().currentDirectory(cwd));
    EXPECT_EQ(cwd[1], ':');
    EXPECT_EQ(os().ansiCodePage(), GetACP());
}

TEST(BackendTest, CalendarTimesConvert) {
    fw::FileTime ft;
    ASSERT_TRUE(os().systemTimeToFileTime({1980, 1, 0, 1, 0, 0, 0, 0}, ft));
    EXPECT_EQ(ft.ticks(), 119600064000000000ULL);
    EXPECT_FALSE(os().systemTimeToFileTime({2001, 2, 0, 30, 0, 0, 0, 0}, ft));
    EXPECT_FALSE(os().systemTimeToFileTime({2001, 13, 0, 1, 0, 0, 0, 0}, ft));
    fw::FileTime utc;
    ASSERT_TRUE(os().localFileTimeToFileTime(ft, utc));
    TIME_ZONE_INFORMATION zone{};
    GetTimeZoneInformation(&zone);
    // Bias in minutes, UTC = local + bias; a daylight bias may apply on that date.
    const int64_t shift = static_cast<int64_t>(utc.ticks()) - static_cast<int64_t>(ft.ticks());
    EXPECT_EQ(shift % 600000000LL, 0);
}

TEST(BackendTest, MultibyteSearchesFollowTheProcessCodePage) {
    // The run-time library's searches; in a single-byte code page every byte is a
    // character, so a byte above 0x80 before a backslash does not hide it.
    struct Case {
        std::string text;
        char c;
        std::size_t first, last;
    };
    const Case cases[] = {
        {"a\\b\\c", '\\', 1, 3},
        {"\x81\\x", '\\', GetACP() == 936 ? fw::mbcs::npos : 1,
         GetACP() == 936 ? fw::mbcs::npos : 1},
        {"abc", '/', fw::mbcs::npos, fw::mbcs::npos},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fw::mbcs::find(c.text, c.c), c.first) << c.text;
        EXPECT_EQ(fw::mbcs::rfind(c.text, c.c), c.last) << c.text;
    }
    EXPECT_EQ(fw::mbcs::findSubstring("x/../y\\..\\z", "\\..\\"), 6u);
    EXPECT_EQ(fw::mbcs::findSubstring("abc", "abcd"), fw::mbcs::npos);
    // Text with a NUL inside is searched past it, as everywhere else.
    EXPECT_EQ(fw::mbcs::find(std::string_view("a\0b/", 4), '/'), 3u);
}

}  // namespace
