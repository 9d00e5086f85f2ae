// Unpacking items: data, sizes, encryption, targets, folders and what stands in the way.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "archive/detail/ArchiveReader.h"
#include "platform/fault/FaultPlatform.h"
#include "tests/archive/ArchiveFixture.h"
#include "tests/support/Noise.h"

namespace fw::test {
namespace {

using ExtractionTest = ArchiveFixture;

constexpr int64_t kUtSeconds = 1'500'000'000;

int64_t modifiedSeconds(const std::string& hostPath) {
    struct stat st {};
    return stat(hostPath.c_str(), &st) == 0 ? st.st_mtime : -1;
}

// A file of tests/archive/data.
std::string testData(const std::string& name) {
#ifdef _WIN32
    return readHostFile("Z:" FERROWICK_TEST_DATA "/" + name);
#else
    return readHostFile(FERROWICK_TEST_DATA "/" + name);
#endif
}

TEST_F(ExtractionTest, StoredAndDeflatedItemsOfEverySize) {
    const std::size_t sizes[] = {0, 1, 16384, 16385, 100000};
    std::vector<zipwrite::Entry> entries;
    for (bool deflate : {false, true}) {
        for (std::size_t size : sizes) {
            entries.push_back({.name = std::string(deflate ? "d" : "s") + std::to_string(size),
                               .data = noise(size),
                               .deflate = deflate,
                               .localExtra = zipwrite::utBlock(1, {kUtSeconds})});
        }
    }
    ArchiveHandle h = openZip(entries);
    ASSERT_NE(h, nullptr);
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        SCOPED_TRACE(entries[i].name);
        ArchiveItem item;
        ASSERT_EQ(GetArchiveItem(h, i, item), AR_OK);
        const std::string target = "C:/out/" + std::string(item.name);
        EXPECT_EQ(ExtractArchiveItem(h, i, target.c_str()), AR_OK);
        EXPECT_TRUE(read(target) == entries[i].data);
        // An empty item gets its times too.
        EXPECT_EQ(modifiedSeconds(prefix.host(target)), kUtSeconds);
    }
}

// An archive from Python's zipfile with force_zip64 (tests/archive/data, made by the
// script beside it): Zip64 local headers, and a name flagged as UTF-8 that code page 936
// can express and 1252 cannot. On Windows the row of the prefix's code page runs.
TEST_F(ExtractionTest, AnArchiveFromPythonsZipfile) {
    std::string data;
    for (int i = 0; i < 5000; ++i) {
        data += static_cast<char>(i * 7 % 256);
    }
    std::string readme;
    for (int i = 0; i < 40; ++i) {
        readme += "Zip64 local header, written by zipfile with force_zip64.\n";
    }
    const std::string bytes = testData("python-zip64.zip");
    ASSERT_FALSE(bytes.empty());
    const struct {
        const char* locale;
        uint32_t codePage;
        const char* utf8Name;  // as the code page spells it; null: refused
    } cases[] = {{kWesternEurope, 1252, nullptr}, {kChinese, 936, "python/\xCB\xB5\xC3\xF7.txt"}};
    int ran = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codePage);
        ScopedLocale locale(c.locale);
        if (os().ansiCodePage() != c.codePage) {
            continue;  // Windows: not the prefix's code page
        }
        ArchiveHandle h = open(putArchive("python" + std::to_string(++ran) + ".zip", bytes));
        ASSERT_NE(h, nullptr);
        const struct {
            const char* name;
            std::string content;
        } items[] = {
            {"python/readme.txt", readme}, {"python/data.bin", data}, {c.utf8Name, "UTF-8 name\n"}};
        for (int i = 0; i < 3; ++i) {
            ArchiveItem item;
            const ArchiveResult described = GetArchiveItem(h, i, item);
            if (!items[i].name) {
                EXPECT_EQ(described, AR_NAME_NOT_IN_CODE_PAGE);
                continue;
            }
            ASSERT_EQ(described, AR_OK) << i;
            EXPECT_STREQ(item.name, items[i].name);
            EXPECT_EQ(item.attributes, kAttrArchive);
            const std::string target = "C:/py/" + std::string(item.name);
            EXPECT_EQ(ExtractArchiveItem(h, i, target.c_str()), AR_OK);
            EXPECT_TRUE(readThroughPlatform(target) == items[i].content);
        }
    }
    EXPECT_GT(ran, 0);
    expectTheCodePageAskedFor();
}

// Archives from the zip command (tests/archive/data, made by the script beside them):
// central entries that give their uncompressed size in a Zip64 block ("zip -fz"), and a
// Zip64 end record ("zip" into a pipe); each also behind a self-extractor's stub.
TEST_F(ExtractionTest, ArchivesFromTheZipCommand) {
    std::string lines;
    for (int i = 1; i <= 200; ++i) {
        lines += "line " + std::to_string(i) + " of a text that deflates\n";
    }
    const std::string forced = testData("zip-fz.zip");
    const std::string piped = testData("zip-stream.zip");
    ASSERT_FALSE(forced.empty());
    ASSERT_FALSE(piped.empty());
    const std::string stub(713, '\x90');
    using Items = std::vector<std::pair<std::string, std::string>>;
    const Items forcedItems = {{"a.txt", "hello\n"}, {"b.txt", lines}};
    const Items pipedItems = {{"-", "from a pipe\n"}};
    const struct {
        const char* what;
        std::string bytes;
        const Items& items;
    } cases[] = {
        {"zip -fz", forced, forcedItems},
        {"zip -fz, behind a stub", stub + forced, forcedItems},
        {"zip into a pipe", piped, pipedItems},
        {"zip into a pipe, behind a stub", stub + piped, pipedItems},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveHandle h = open(putArchive("zip" + std::to_string(++n) + ".zip", c.bytes));
        ASSERT_NE(h, nullptr);
        ArchiveItem item;
        ASSERT_EQ(GetArchiveItem(h, -1, item), AR_OK);
        ASSERT_EQ(item.index, static_cast<int32_t>(c.items.size()));
        for (int32_t i = 0; i < item.index; ++i) {
            ASSERT_EQ(GetArchiveItem(h, i, item), AR_OK);
            EXPECT_EQ(item.name, c.items[i].first);
            EXPECT_EQ(item.uncompressedSize, c.items[i].second.size());
            const std::string target = "C:/zip" + std::to_string(n) + "/" + item.name;
            EXPECT_EQ(ExtractArchiveItem(h, i, target.c_str()), AR_OK);
            EXPECT_TRUE(read(target) == c.items[i].second);
        }
    }
}

TEST_F(ExtractionTest, HighlyCompressedItemsInflatePastTheirLastInput) {
    // All input is taken in long before the output is delivered, and the last piece of
    // output is still held in the inflater when the input is gone: it must be asked
    // again, not taken as dry. A short stored block ahead of a long run of zeros does it.
    const std::string head(40, 'H');
    const std::string zeros(std::size_t{2} << 20, '\0');
    std::string stored("\x00\x28\x00\xD7\xFF", 5);  // a stored block of 40 bytes
    stored += head + deflateRaw(zeros);
    ArchiveHandle h =
        openRaw({{.name = "run", .content = head + zeros, .method = 8, .stored = stored}});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ExtractArchiveItem(h, 0, "C:/z/run"), AR_OK);
    EXPECT_TRUE(read("C:/z/run") == head + zeros);
}

TEST_F(ExtractionTest, BadDataKeepsWhatWasWrittenWithoutTheItemsTimes) {
    const std::string data = noise(40000);
    struct Case {
        const char* what;
        RawEntry entry;
        ArchiveResult expected;
        std::size_t written;
    };
    const Case cases[] = {
        {"stored, CRC differs", {.content = data, .crc = 7}, AR_INFLATE_FAILED, data.size()},
        {"deflated, CRC differs",
         {.content = data, .method = 8, .crc = 7},
         AR_INFLATE_FAILED,
         data.size()},
        // Read through the reader's own count, not minizip's check.
        {"Zip64, stored, CRC differs",
         {.content = data,
          .crc = 7,
          .zip64Local = true,
          .zip64Central = kCentralUncompressed | kCentralCompressed | kCentralOffset},
         AR_INFLATE_FAILED,
         data.size()},
        {"Zip64, deflated, CRC differs",
         {.content = data,
          .method = 8,
          .crc = 7,
          .zip64Local = true,
          .zip64Central = kCentralUncompressed | kCentralCompressed | kCentralOffset},
         AR_INFLATE_FAILED,
         data.size()},
        {"encrypted, stored, CRC differs",
         {.content = data, .encrypt = true, .crc = 7},
         AR_INFLATE_FAILED,
         data.size()},
        {"encrypted, deflated, CRC differs",
         {.content = data, .method = 8, .encrypt = true, .crc = 7},
         AR_INFLATE_FAILED,
         data.size()},
        {"stored, data ends early",
         {.content = data, .uncompressedSize = 50000},
         AR_INFLATE_FAILED,
         data.size()},
        {"deflated, stream ends early",
         {.content = data, .method = 8, .uncompressedSize = 50000},
         AR_INFLATE_FAILED,
         data.size()},
        {"deflated, stated size smaller",
         {.content = data, .method = 8, .crc = 0xFFFFFFFF, .uncompressedSize = 20000},
         AR_INFLATE_FAILED,
         20000},
        {"not a deflate stream",
         {.content = std::string(100, 'x'), .method = 8, .stored = std::string(100, '\xFF')},
         AR_INFLATE_FAILED,
         0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawEntry entry = c.entry;
        entry.name = "bad" + std::to_string(++n);
        entry.localExtra = zipwrite::utBlock(1, {kUtSeconds});
        ArchiveHandle h = openRaw({entry});
        ASSERT_NE(h, nullptr);
        const std::string target = "C:/out/" + entry.name;
        EXPECT_EQ(ExtractArchiveItem(h, 0, target.c_str()), c.expected);
        EXPECT_EQ(read(target).size(), c.written);
        EXPECT_NE(modifiedSeconds(prefix.host(target)), kUtSeconds);
    }
}

TEST_F(ExtractionTest, EncryptedItems) {
    // A vector made with the scheme's reference code: header "0123456789:" plus the
    // check byte 0x87, then "Ferrowick!".
    const unsigned char known[] = {0x9b, 0xe6, 0x66, 0xef, 0xa5, 0x41, 0x67, 0xb8,
                                   0x68, 0x41, 0xc1, 0x1c, 0xe2, 0xeb, 0x8e, 0x9d,
                                   0xae, 0x1d, 0x67, 0xe8, 0xbf, 0xea};
    const std::string plain = std::string("0123456789:\x87", 12) + "Ferrowick!";
    ASSERT_EQ(encryptTraditional(plain), std::string(std::begin(known), std::end(known)));

    const std::string data = noise(40000);
    const uint32_t when = 0x38C16A00;  // the time's high byte is 0x6A
    struct Case {
        const char* what;
        RawEntry entry;
        ArchiveResult expected;
    };
    const Case cases[] = {
        {"stored", {.content = data, .encrypt = true}, AR_OK},
        {"deflated", {.content = data, .method = 8, .encrypt = true}, AR_OK},
        {"empty", {.content = "", .encrypt = true}, AR_OK},
        {"check byte from the time",
         {.content = data, .method = 8, .encrypt = true, .flags = 8, .dosDateTime = when},
         AR_OK},
        {"check byte fails",
         {.content = data, .encrypt = true, .checkByte = 0x00},
         AR_BAD_PASSWORD},
        {"check byte of the CRC where the time's is due",
         {.content = "abc", .encrypt = true, .flags = 8, .dosDateTime = when, .checkByte = 0x35},
         AR_BAD_PASSWORD},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawEntry entry = c.entry;
        entry.name = "enc" + std::to_string(++n);
        ArchiveHandle h = openRaw({entry});
        ASSERT_NE(h, nullptr);
        const std::string target = "C:/out/" + entry.name;
        EXPECT_EQ(ExtractArchiveItem(h, 0, target.c_str()), c.expected);
        EXPECT_TRUE(exists(target));
        if (c.expected == AR_OK) {
            EXPECT_TRUE(read(target) == entry.content);
        } else {
            EXPECT_EQ(read(target), "");
        }
    }
}

TEST_F(ExtractionTest, TargetsAndWhereTheyLead) {
    struct Case {
        const char* target;
        const char* lands;  // drive path of the file written
    };
    const Case cases[] = {
        {"x.txt", "C:/work/x.txt"},
        {"sub/deeper/x.txt", "C:/work/sub/deeper/x.txt"},
        {"C:/abs/b/y.txt", "C:/abs/b/y.txt"},
        {"C:/mixed\\b/y.txt", "C:/mixed/b/y.txt"},
        {"\\rooted\\z.txt", "C:/rooted/z.txt"},
    };
    ArchiveHandle h = openZip({{.name = "f", .data = "data"}});
    ASSERT_NE(h, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        EXPECT_EQ(ExtractArchiveItem(h, 0, c.target), AR_OK);
        EXPECT_EQ(read(c.lands), "data");
    }
    // A target ending in a separator names a folder: the file cannot be made.
    EXPECT_EQ(ExtractArchiveItem(h, 0, "C:/endsin/"), AR_CANNOT_OPEN);
    EXPECT_TRUE(std::filesystem::is_directory(prefix.host("C:/endsin")));
}

TEST_F(ExtractionTest, FolderItems) {
    ArchiveHandle h = openZip({{.name = "dir/", .data = "", .externalAttributes = 0x10}});
    ASSERT_NE(h, nullptr);
    const std::pair<const char*, const char*> cases[] = {
        {"C:/a/b/", "C:/a/b"},
        {"rel/one", "C:/work/rel/one"},
        {"\\top\\two", "C:/top/two"},
    };
    for (const auto& [target, folder] : cases) {
        SCOPED_TRACE(target);
        EXPECT_EQ(ExtractArchiveItem(h, 0, target), AR_OK);
        EXPECT_TRUE(std::filesystem::is_directory(prefix.host(folder)));
    }
    EXPECT_EQ(h->reader->workspaces.made(), 0u);  // no file item was extracted
}

TEST_F(ExtractionTest, WhatStandsInTheWay) {
#ifdef _WIN32
    GTEST_SKIP() << "wine lets CREATE_ALWAYS replace a read-only file, which Windows refuses";
#endif
    ArchiveHandle h = openZip(
        {{.name = "f", .data = "new"}, {.name = "ro", .data = "x", .externalAttributes = 0x21}});
    ASSERT_NE(h, nullptr);
    // A read-only file is not replaced.
    ASSERT_EQ(ExtractArchiveItem(h, 1, "C:/w/ro.txt"), AR_OK);
    EXPECT_EQ(ExtractArchiveItem(h, 0, "C:/w/ro.txt"), AR_CANNOT_OPEN);
    EXPECT_EQ(read("C:/w/ro.txt"), "x");
    // A file where a folder belongs is left alone; the file below it cannot be made.
    ASSERT_TRUE(writeHostFile(prefix.host("C:/w/plain"), "old"));
    EXPECT_EQ(ExtractArchiveItem(h, 0, "C:/w/plain/f.txt"), AR_CANNOT_OPEN);
    EXPECT_EQ(read("C:/w/plain"), "old");
    // An ordinary file is replaced.
    ASSERT_TRUE(writeHostFile(prefix.host("C:/w/ordinary"), "older and longer"));
    EXPECT_EQ(ExtractArchiveItem(h, 0, "C:/w/ordinary"), AR_OK);
    EXPECT_EQ(read("C:/w/ordinary"), "new");
}

TEST_F(ExtractionTest, LongPathsAreRefusedBeforeAnythingIsMade) {
    ArchiveHandle h = openZip(
        {{.name = "f", .data = "x"}, {.name = "d/", .data = "", .externalAttributes = 0x10}});
    ASSERT_NE(h, nullptr);
    const std::string base = "C:\\work\\";
    struct Case {
        std::string target;
        int index;
        ArchiveResult expected;
    };
    const Case cases[] = {
        {"C:/long/" + std::string(40, 'a') + "/" + std::string(259 - 49, 'n'), 0, AR_OK},
        {"C:/long/" + std::string(40, 'b') + "/" + std::string(260 - 49, 'n'), 0, AR_PATH_TOO_LONG},
        {std::string(259 - base.size(), 'r'), 0, AR_OK},
        {std::string(260 - base.size(), 'r'), 0, AR_PATH_TOO_LONG},
        {"sub/" + std::string(256 - base.size(), 'r'), 0, AR_PATH_TOO_LONG},
        {"C:/long/" + std::string(300, 'd'), 1, AR_PATH_TOO_LONG},
        {std::string(260 - base.size(), 'd'), 1, AR_PATH_TOO_LONG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target.size());
        fault::FaultInjector faults;
        EXPECT_EQ(ExtractArchiveItem(h, c.index, c.target.c_str()), c.expected);
        if (c.expected != AR_OK) {
            EXPECT_EQ(faults.calls(fault::Call::createDirectory), 0);
            EXPECT_EQ(faults.calls(fault::Call::createFile), 0);
        }
    }
}

TEST_F(ExtractionTest, DescribeThenExtractReadsTheDirectoryOnce) {
    std::vector<zipwrite::Entry> entries;
    for (int i = 0; i < 6; ++i) {
        entries.push_back({.name = "dir/f" + std::to_string(i), .data = noise(100 + i)});
    }
    ArchiveHandle h = openZip(entries);
    ASSERT_NE(h, nullptr);
    ArchiveItem item;
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(GetArchiveItem(h, i, item), AR_OK);
        ASSERT_EQ(ExtractArchiveItem(h, i, ("C:/o/" + std::string(item.name)).c_str()), AR_OK);
        EXPECT_TRUE(read("C:/o/dir/f" + std::to_string(i)) == entries[i].data);
    }
    EXPECT_EQ(h->reader->steps, 5u);
    EXPECT_EQ(h->reader->restarts, 0u);
    // Going back to an earlier item after a description elsewhere still finds its data.
    ASSERT_EQ(GetArchiveItem(h, 1, item), AR_OK);
    ASSERT_EQ(GetArchiveItem(h, 4, item), AR_OK);
    EXPECT_EQ(ExtractArchiveItem(h, 1, "C:/o/again"), AR_OK);
    EXPECT_TRUE(read("C:/o/again") == entries[1].data);
}

TEST_F(ExtractionTest, DoubleByteTargetsAreSplitAtRealSeparators) {
#ifdef _WIN32
    GTEST_SKIP() << "the ANSI code page is the system's on Windows: no locale makes it 936 here";
#endif
    ScopedLocale chinese(kChinese);
    ASSERT_EQ(os().ansiCodePage(), 936u);
    ArchiveHandle h = openZip({{.name = "f", .data = "cp936"}});
    ASSERT_NE(h, nullptr);
    // The file name is the one character 0x81 0x5C: its trail byte is no separator.
    const std::string target = std::string("C:/dbcs/") + "\x81\x5C";
    EXPECT_EQ(ExtractArchiveItem(h, 0, target.c_str()), AR_OK);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(prefix.host("C:/dbcs"))) {
        EXPECT_TRUE(entry.is_regular_file()) << entry.path();
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(ExtractionTest, WithoutACurrentDirectoryRelativeTargetsAreRefused) {
    Platform table = hostPlatform();
    table.currentDirectory = [](std::string&) { return false; };
    const Platform* previous = setPlatform(&table);
    ArchiveHandle h = OpenArchive(zipArchive("nocwd.zip", {{.name = "f", .data = "x"}}).c_str());
    setPlatform(previous);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ExtractArchiveItem(h, 0, "relative.txt"), AR_PATH_TOO_LONG);
    EXPECT_EQ(ExtractArchiveItem(h, 0, "rel/x.txt"), AR_PATH_TOO_LONG);
    EXPECT_EQ(ExtractArchiveItem(h, 0, "C:/abs.txt"), AR_OK);
    EXPECT_EQ(CloseArchive(h), AR_OK);
}

}  // namespace
}  // namespace fw::test
