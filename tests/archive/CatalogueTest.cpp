// Opening, counting, positioning with the cache, and the local header check.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "archive/detail/ArchiveReader.h"
#include "platform/fault/FaultPlatform.h"
#include "tests/archive/ArchiveFixture.h"
#include "tests/support/Noise.h"

namespace fw::test {
namespace {

using CatalogueTest = ArchiveFixture;

std::vector<zipwrite::Entry> numbered(int count) {
    std::vector<zipwrite::Entry> entries;
    for (int i = 0; i < count; ++i) {
        entries.push_back({.name = "item" + std::to_string(i), .data = std::string(i, 'x')});
    }
    return entries;
}

ArchiveItem filledRecord() {
    ArchiveItem item;
    item.index = 77;
    std::strcpy(item.name, "stale");
    item.attributes = 0x21;
    item.lastWriteTime = FileTime{1, 2};
    item.compressedSize = 5;
    item.uncompressedSize = 6;
    return item;
}

TEST_F(CatalogueTest, HandleAndIndexChecks) {
    ArchiveHandle h = openZip(numbered(3));
    ASSERT_NE(h, nullptr);
    ArchiveHandleRecord foreign{2, h->reader};
    struct Case {
        const char* what;
        ArchiveHandle handle;
        int32_t index;
        ArchiveResult expected;
    };
    const Case cases[] = {
        {"absent handle, count query", nullptr, -1, AR_BAD_ARGUMENT},
        {"absent handle, item", nullptr, 0, AR_BAD_ARGUMENT},
        {"handle of another kind", &foreign, 0, AR_WRONG_KIND},
        {"index -2", h, -2, AR_BAD_ARGUMENT},
        {"index equal to the count", h, 3, AR_BAD_ARGUMENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveItem item = filledRecord();
        EXPECT_EQ(GetArchiveItem(c.handle, c.index, item), c.expected);
        // The three fields of the first step are cleared; the rest is left alone.
        EXPECT_EQ(item.index, 0);
        EXPECT_EQ(item.name[0], '\0');
        EXPECT_EQ(item.uncompressedSize, 0u);
        EXPECT_EQ(item.attributes, 0x21u);
        EXPECT_EQ(ExtractArchiveItem(c.handle, c.index, "C:/out/x"), c.expected);
    }
    EXPECT_EQ(ExtractArchiveItem(h, -1, "C:/out/x"), AR_BAD_ARGUMENT);
    EXPECT_EQ(ExtractArchiveItem(h, 0, nullptr), AR_BAD_ARGUMENT);
    EXPECT_FALSE(exists("C:/out"));

    EXPECT_FALSE(IsReaderHandle(nullptr));
    EXPECT_FALSE(IsReaderHandle(&foreign));
    EXPECT_TRUE(IsReaderHandle(h));
    EXPECT_EQ(CloseArchive(nullptr), AR_BAD_ARGUMENT);
    EXPECT_EQ(CloseArchive(&foreign), AR_WRONG_KIND);  // releases nothing: h still works

    ArchiveItem count = filledRecord();
    EXPECT_EQ(GetArchiveItem(h, -1, count), AR_OK);
    EXPECT_EQ(count.index, 3);
    EXPECT_EQ(count.name[0], '\0');
    EXPECT_EQ(count.attributes, 0u);
    EXPECT_EQ(count.lastWriteTime, FileTime{});
    EXPECT_EQ(count.compressedSize, 0u);
    EXPECT_EQ(close(h), AR_OK);
}

// What unpacking the whole archive writes, from the central directory alone: a local
// header that disagrees does not stop the sum, a Zip64 size counts whole, a directory
// entry that cannot be read stops it; items are described as before afterwards.
TEST_F(CatalogueTest, TheUnpackedSizeIsTheDirectorysSumOfItemSizes) {
    constexpr uint64_t kFiveGiB = uint64_t{5} << 30;
    struct Case {
        const char* what;
        std::vector<RawEntry> entries;
        ArchiveResult result;
        uint64_t bytes;
    };
    const Case cases[] = {
        {"no items", {}, AR_OK, 0},
        {"three items",
         {{.name = "a", .content = ""},
          {.name = "b", .content = "b"},
          {.name = "c", .content = "cc", .method = 8}},
         AR_OK,
         3},
        {"a local header that disagrees",
         {{.name = "a", .content = "aaaa", .localCrc = 7}},
         AR_OK,
         4},
        {"a Zip64 size",
         {{.name = "a", .content = "a"},
          {.name = "huge", .content = "h", .zip64CentralSize = kFiveGiB}},
         AR_OK,
         1 + kFiveGiB},
        {"a Zip64 block cut short",
         {{.name = "a", .content = "aa"},
          {.name = "b", .content = "b", .zip64Central = kCentralUncompressed, .zip64CentralCut = 4},
          {.name = "c", .content = "c"}},
         AR_BAD_CATALOGUE,
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveHandle h = openRaw(c.entries);
        ASSERT_NE(h, nullptr);
        uint64_t bytes = 99;
        EXPECT_EQ(GetArchiveUnpackedSize(h, bytes), c.result);
        EXPECT_EQ(bytes, c.bytes);
        if (!c.entries.empty() && c.result == AR_OK) {
            ArchiveItem item;
            const ArchiveResult first = GetArchiveItem(h, 0, item);
            if (first == AR_OK) {
                EXPECT_STREQ(item.name, c.entries[0].name.c_str());
            }
        }
    }
    ArchiveHandle h = openZip(numbered(3));
    ArchiveHandleRecord foreign{2, h->reader};
    uint64_t bytes = 99;
    EXPECT_EQ(GetArchiveUnpackedSize(nullptr, bytes), AR_BAD_ARGUMENT);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(GetArchiveUnpackedSize(&foreign, bytes), AR_WRONG_KIND);
    // Walked after an item was described, it leaves the items to be described again.
    ArchiveItem item;
    ASSERT_EQ(GetArchiveItem(h, 1, item), AR_OK);
    ASSERT_EQ(GetArchiveUnpackedSize(h, bytes), AR_OK);
    EXPECT_EQ(bytes, 3u);
    for (int32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(GetArchiveItem(h, i, item), AR_OK);
        EXPECT_EQ(std::string(item.name), "item" + std::to_string(i));
        EXPECT_EQ(ExtractArchiveItem(h, i, ("C:/out/" + std::string(item.name)).c_str()), AR_OK);
        EXPECT_EQ(read("C:/out/item" + std::to_string(i)), std::string(i, 'x'));
    }
}

TEST_F(CatalogueTest, WhatOpensAndWhatDoesNot) {
    std::string eocd;
    append32(eocd, zip::kEndSignature);
    eocd += std::string(zip::kEndSize - 4, '\0');
    std::string eocdClaimingItems = eocd;
    eocdClaimingItems[zip::eocd::diskEntries] = eocdClaimingItems[zip::eocd::entries] = 1;
    const std::string archived = buildArchive({{.name = "a", .content = "1"}});
    std::string eocdWithComment = eocd;
    eocdWithComment[zip::eocd::commentLength] = 3;
    eocdWithComment += "abc";
    struct Case {
        const char* what;
        std::string bytes;
        bool opens;
    };
    const Case cases[] = {
        {"end record at the first byte", eocd, true},
        {"the same with a comment", eocdWithComment, true},
        {"an end record that claims items", eocdClaimingItems, false},
        {"an end record followed by junk", eocd + "junk", false},
        {"not an archive", "hello, world", false},
        // minizip reads what is missing as zeros, a count of 0 among them.
        {"cut inside its end record", archived.substr(0, archived.size() - 1), false},
        {"cut after its counts", archived.substr(0, archived.size() - 10), false},
        {"cut to its signature", archived.substr(0, archived.size() - 18), false},
        {"an empty file", "", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveHandle h = open(putArchive("case" + std::to_string(++n) + ".zip", c.bytes));
        ASSERT_EQ(h != nullptr, c.opens);
        if (h) {
            ArchiveItem item = filledRecord();
            EXPECT_EQ(GetArchiveItem(h, -1, item), AR_OK);
            EXPECT_EQ(item.index, 0);
            EXPECT_EQ(GetArchiveItem(h, 0, item), AR_BAD_ARGUMENT);
            EXPECT_EQ(ExtractArchiveItem(h, 0, "x"), AR_BAD_ARGUMENT);
        }
    }
    EXPECT_EQ(OpenArchive("C:/zips/missing.zip"), nullptr);
    EXPECT_EQ(OpenArchive("C:/zips"), nullptr);  // a folder

    // minizip's writer with no items makes exactly the record-at-byte-0 archive.
    ArchiveHandle made = openZip({});
    ASSERT_NE(made, nullptr);
    ArchiveItem item;
    EXPECT_EQ(GetArchiveItem(made, -1, item), AR_OK);
    EXPECT_EQ(item.index, 0);
}

TEST_F(CatalogueTest, FailedOpenClosesTheFile) {
    fault::FaultInjector faults;
    EXPECT_EQ(OpenArchive(putArchive("bad.zip", "no archive here").c_str()), nullptr);
    EXPECT_EQ(faults.calls(fault::Call::openFile), faults.calls(fault::Call::closeFile));
    ArchiveHandle h = OpenArchive(zipArchive("good.zip", numbered(2)).c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(CloseArchive(h), AR_OK);
    EXPECT_EQ(faults.calls(fault::Call::openFile), faults.calls(fault::Call::closeFile));
}

TEST_F(CatalogueTest, PositioningStepsForwardAndTheCacheReadsNothing) {
    ArchiveHandle h = openZip(numbered(8));
    ASSERT_NE(h, nullptr);
    const archive::ArchiveReader& reader = *h->reader;
    ArchiveItem item;
    struct Step {
        int32_t index;
        uint64_t steps;  // totals after the call
        uint64_t restarts;
    };
    // 5 then 2 goes back to the first item and steps twice; 2 then 5 steps three times.
    const Step walk[] = {{5, 5, 0}, {2, 7, 1}, {5, 10, 1}, {0, 10, 2}, {7, 17, 2}};
    for (const Step& s : walk) {
        SCOPED_TRACE(s.index);
        ASSERT_EQ(GetArchiveItem(h, s.index, item), AR_OK);
        EXPECT_EQ(item.index, s.index);
        EXPECT_STREQ(item.name, ("item" + std::to_string(s.index)).c_str());
        EXPECT_EQ(item.uncompressedSize, static_cast<uint32_t>(s.index));
        EXPECT_EQ(reader.steps, s.steps);
        EXPECT_EQ(reader.restarts, s.restarts);
    }

    // Describing the cached index again, with a count query between, touches no file.
    fault::FaultInjector faults;
    ArchiveItem again;
    EXPECT_EQ(GetArchiveItem(h, -1, again), AR_OK);
    EXPECT_EQ(GetArchiveItem(h, 7, again), AR_OK);
    EXPECT_STREQ(again.name, "item7");
    EXPECT_EQ(faults.calls(fault::Call::readFileAt), 0);
    EXPECT_EQ(faults.calls(fault::Call::seekFile), 0);
    EXPECT_EQ(reader.currentIndex, 7);
    EXPECT_EQ(reader.steps, 17u);
}

TEST_F(CatalogueTest, AWalkOverSmallItemsReadsEachBlockOnce) {
    // The directory's entries and the items' local headers are visited in turn; each
    // keeps its own window, so a walk reads each block of the archive about once, not
    // again for each item, whether the archive fits one window or takes many. (An entry
    // across a window's boundary, which the walk reads more than once, can cost its
    // block a second read.)
    struct Case {
        const char* what;
        int items;  // of 300 bytes each
    };
    const Case cases[] = {
        {"within one window: about 33 KB of headers and data, 5 KB of directory", 100},
        {"over many windows: about 1 MB of headers and data, 160 KB of directory", 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<zipwrite::Entry> entries;
        for (int i = 0; i < c.items; ++i) {
            entries.push_back(
                {.name = "item" + std::to_string(i), .data = noise(300, static_cast<unsigned>(i))});
        }
        const std::string path = zipArchive("walk" + std::to_string(c.items) + ".zip", entries);
        const uint64_t size = std::filesystem::file_size(prefix.host(path));
        const uint64_t blocks =
            (size + archive::SeamFile::kBufferSize - 1) / archive::SeamFile::kBufferSize;
        ArchiveHandle h = open(path);
        ASSERT_NE(h, nullptr);
        fault::FaultInjector faults;
        ArchiveItem item;
        for (int32_t i = 0; i < c.items; ++i) {
            ASSERT_EQ(GetArchiveItem(h, i, item), AR_OK);
        }
        EXPECT_LE(faults.calls(fault::Call::readFileAt), static_cast<int>(blocks * 3 / 2) + 1)
            << size << " bytes in " << blocks << " blocks";
        close(h);
    }
}

// What agrees unpacks to its written bytes. Zip64 local headers (sizes 0xFFFFFFFF, the
// real ones in a Zip64 extra block) are what writers make that do not know the sizes in
// advance; sizes of 0xFFFFFFFF and more do not fit the record.
TEST_F(CatalogueTest, LocalHeaderMustAgreeWithTheCentralEntry) {
    const std::string big = noise(40000);
    struct Case {
        const char* what;
        RawEntry entry;
        ArchiveResult expected;
    };
    const Case cases[] = {
        {"agreeing", {.name = "a", .content = "abc"}, AR_OK},
        {"deflated", {.name = "a", .content = "abc", .method = 8}, AR_OK},
        {"method differs", {.name = "a", .content = "abc", .localMethod = 8}, AR_BAD_LOCAL_HEADER},
        {"CRC differs", {.name = "a", .content = "abc", .localCrc = 1}, AR_BAD_LOCAL_HEADER},
        {"CRC differs, sizes after the data",
         {.name = "a", .content = "abc", .flags = 8, .localCrc = 1},
         AR_OK},
        {"name length differs",
         {.name = "ab", .content = "abc", .localNameLength = 1},
         AR_BAD_LOCAL_HEADER},
        {"method neither stored nor deflated",
         {.name = "a", .content = "abc", .method = 12},
         AR_BAD_LOCAL_HEADER},
        {"Zip64 local sizes", {.name = "a", .content = big, .zip64Local = true}, AR_OK},
        {"Zip64 local sizes, deflated",
         {.name = "a", .content = big, .method = 8, .zip64Local = true},
         AR_OK},
        {"Zip64 local sizes, encrypted and deflated",
         {.name = "a", .content = big, .method = 8, .encrypt = true, .zip64Local = true},
         AR_OK},
        {"Zip64 local sizes of an empty item",
         {.name = "a", .content = "", .zip64Local = true},
         AR_OK},
        {"Zip64 local sizes behind a UT block",
         {.name = "a",
          .content = "abc",
          .localExtra = zipwrite::utBlock(1, {7}),
          .zip64Local = true},
         AR_OK},
        {"Zip64 local size differs",
         {.name = "a", .content = "abc", .zip64Local = true, .zip64LocalSize = 4},
         AR_BAD_LOCAL_HEADER},
        {"Zip64 local size differs, sizes after the data",
         {.name = "a", .content = "abc", .flags = 8, .zip64Local = true, .zip64LocalSize = 4},
         AR_OK},
        // One size marked: a block of 8 bytes holds just that one.
        {"Zip64 local: the uncompressed size alone",
         {.name = "a",
          .content = big,
          .method = 8,
          .zip64Local = true,
          .zip64LocalMarked = kCentralUncompressed},
         AR_OK},
        {"Zip64 local: the compressed size alone",
         {.name = "a",
          .content = big,
          .method = 8,
          .zip64Local = true,
          .zip64LocalMarked = kCentralCompressed},
         AR_OK},
        {"Zip64 local: the uncompressed size alone, and it differs",
         {.name = "a",
          .content = "abc",
          .zip64Local = true,
          .zip64LocalSize = 4,
          .zip64LocalMarked = kCentralUncompressed},
         AR_BAD_LOCAL_HEADER},
        // Central entries with Zip64 blocks: the block holds just the marked fields,
        // uncompressed size, compressed size, offset, disk, in that order. The item is
        // the last, so a reader that fetched whole pieces past its data would fall off
        // the file's end.
        {"central Zip64: uncompressed size (as zip -fz writes it)",
         {.name = "a",
          .content = big,
          .method = 8,
          .zip64Local = true,
          .zip64Central = kCentralUncompressed},
         AR_OK},
        {"central Zip64: both sizes",
         {.name = "a",
          .content = big,
          .zip64Local = true,
          .zip64Central = kCentralUncompressed | kCentralCompressed},
         AR_OK},
        {"central Zip64: the offset",
         {.name = "a", .content = big, .method = 8, .zip64Central = kCentralOffset},
         AR_OK},
        {"central Zip64: sizes and offset",
         {.name = "a",
          .content = big,
          .method = 8,
          .zip64Local = true,
          .zip64Central = kCentralUncompressed | kCentralCompressed | kCentralOffset},
         AR_OK},
        {"central Zip64: sizes and offset, encrypted and deflated",
         {.name = "a",
          .content = big,
          .method = 8,
          .encrypt = true,
          .zip64Local = true,
          .zip64Central = kCentralUncompressed | kCentralCompressed | kCentralOffset},
         AR_OK},
        {"central Zip64: sizes, offset and disk",
         {.name = "a",
          .content = big,
          .zip64Local = true,
          .zip64Central =
              kCentralUncompressed | kCentralCompressed | kCentralOffset | kCentralDisk},
         AR_OK},
        {"central Zip64: offset and disk of an empty item",
         {.name = "a", .content = "", .zip64Central = kCentralOffset | kCentralDisk},
         AR_OK},
        {"central Zip64: the disk",
         {.name = "a", .content = "abc", .zip64Central = kCentralDisk},
         AR_OK},
        {"central Zip64: the block too short for the offset",
         {.name = "a", .content = "abc", .zip64Central = kCentralOffset, .zip64CentralCut = 1},
         AR_BAD_CATALOGUE},
        {"central Zip64: the block's stated size runs past the extra field",
         {.name = "a",
          .content = "abc",
          .zip64Central = kCentralOffset | kCentralDisk,
          .zip64CentralCut = 4,
          .zip64CentralStated = 12},
         AR_BAD_CATALOGUE},
        // Found in the wild, and read by other readers: the local header holds the real
        // sizes, with no Zip64 block and no data descriptor.
        {"central Zip64: size marked, local 32-bit sizes",
         {.name = "a", .content = "abc", .zip64Central = kCentralUncompressed},
         AR_OK},
        {"central Zip64: both sizes marked, local 32-bit sizes, deflated",
         {.name = "a",
          .content = big,
          .method = 8,
          .zip64Central = kCentralUncompressed | kCentralCompressed},
         AR_OK},
        {"central Zip64: sizes marked, local 32-bit size differs",
         {.name = "a",
          .content = "abc",
          .zip64Central = kCentralUncompressed,
          .zip64CentralSize = 4},
         AR_BAD_LOCAL_HEADER},
        {"size above 0xFFFFFFFF, in the central Zip64 block",
         {.name = "a", .content = "abc", .zip64CentralSize = uint64_t{5} << 30},
         AR_ITEM_TOO_LARGE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveHandle h = openRaw({{.name = "first", .content = "1"}, c.entry});
        ASSERT_NE(h, nullptr);
        ArchiveItem item;
        ASSERT_EQ(GetArchiveItem(h, 0, item), AR_OK);
        item = filledRecord();
        EXPECT_EQ(GetArchiveItem(h, 1, item), c.expected);
        if (c.expected == AR_OK) {
            EXPECT_EQ(item.uncompressedSize, c.entry.content.size());
            EXPECT_EQ(ExtractArchiveItem(h, 1, "C:/unpacked/a"), AR_OK);
            EXPECT_TRUE(read("C:/unpacked/a") == c.entry.content);
        } else {
            EXPECT_STREQ(item.name, "");
            EXPECT_EQ(item.attributes, 0x21u);
            EXPECT_EQ(h->reader->cachedIndex, 0);  // the cache is unchanged
            EXPECT_EQ(h->reader->currentIndex, 1);
            EXPECT_EQ(ExtractArchiveItem(h, 1, "C:/out/a"), c.expected);
            EXPECT_FALSE(exists("C:/out"));
        }
    }
}

// The count the end record states is bounded by what the central directory can hold
// (46 bytes to the smallest entry). Past the first entry that cannot be reached, every
// index fails at once: the walk costs a step per real entry whatever the count says,
// every real item is unpacked, and lower indices are still reached from the first item.
TEST_F(CatalogueTest, ACountThatLiesCostsOnlyTheRealDirectory) {
    struct Case {
        const char* what;
        int real;                // entries in the directory
        std::size_t nameLength;  // each entry takes 46 bytes and its name
        uint64_t stated;
        bool zip64;
        int spoiled;    // the entry whose signature is spoiled; -1 for none
        int32_t count;  // what the reader counts
    };
    const Case cases[] = {
        {"as many as there are", 3, 100, 3, false, -1, 3},
        {"fewer: the rest is hidden", 3, 100, 2, false, -1, 2},
        {"none", 3, 100, 0, false, -1, 0},
        {"one more", 3, 100, 4, false, -1, 4},
        {"0xFFFF", 3, 100, 0xFFFF, false, -1, 438 / 46},
        {"Zip64: 2^31", 300, 54, uint64_t{1} << 31, true, -1, 300 * 100 / 46},
        {"Zip64: 2^64 - 1", 3, 100, UINT64_MAX, true, -1, 438 / 46},
        {"the third entry damaged", 3, 1, 3, false, 2, 3},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<RawEntry> entries;
        for (int i = 0; i < c.real; ++i) {
            const std::string number = std::to_string(i);
            entries.push_back({.name = std::string(c.nameLength - number.size(), 'x') + number,
                               .content = "content " + number});
        }
        std::string bytes = buildArchive(entries);
        if (c.zip64) {
            bytes = withZip64End(bytes, c.stated);
        } else {
            bytes[bytes.size() - 14] = bytes[bytes.size() - 12] = static_cast<char>(c.stated);
            bytes[bytes.size() - 13] = bytes[bytes.size() - 11] = static_cast<char>(c.stated >> 8);
        }
        std::size_t entry = bytes.size();
        for (int i = 0; i <= c.spoiled; ++i) {
            entry = bytes.find(std::string("PK\x01\x02", 4), i == 0 ? 0 : entry + 4);
        }
        if (c.spoiled >= 0) {
            bytes[entry + 2] = 'X';
        }
        ArchiveHandle h = open(putArchive("lying" + std::to_string(++n) + ".zip", bytes));
        ASSERT_NE(h, nullptr);
        ArchiveItem item;
        ASSERT_EQ(GetArchiveItem(h, -1, item), AR_OK);
        ASSERT_EQ(item.index, c.count);

        const std::string out = "C:/walk" + std::to_string(n) + "/";
        const int reachable = c.spoiled >= 0 ? c.spoiled : c.real;
        for (int32_t i = 0; i < c.count; ++i) {
            const ArchiveResult described = GetArchiveItem(h, i, item);
            const std::string target = out + item.name;
            const ArchiveResult extracted = ExtractArchiveItem(h, i, target.c_str());
            if (i < reachable) {
                EXPECT_EQ(described, AR_OK) << i;
                EXPECT_EQ(extracted, AR_OK) << i;
                EXPECT_EQ(read(target), "content " + std::to_string(i));
            } else {
                EXPECT_EQ(described, AR_BAD_CATALOGUE) << i;
                EXPECT_EQ(extracted, AR_BAD_CATALOGUE) << i;
            }
        }
        const archive::ArchiveReader& reader = *h->reader;
        EXPECT_LE(reader.steps, static_cast<uint64_t>(reachable));
        EXPECT_EQ(reader.restarts, 0u);
        if (c.count > 0) {
            EXPECT_EQ(GetArchiveItem(h, 0, item), AR_OK);
            EXPECT_EQ(reader.restarts, c.count > 1 ? 1u : 0u);
        }
        close(h);
    }
}

TEST_F(CatalogueTest, NamesOfTheBufferSizeAreRefused) {
    const std::string fits(259, 'n');
    const std::string tooLong(260, 'n');
    ArchiveHandle h = openRaw({{.name = fits, .content = "1"}, {.name = tooLong, .content = "2"}});
    ASSERT_NE(h, nullptr);
    ArchiveItem item;
    ASSERT_EQ(GetArchiveItem(h, 0, item), AR_OK);
    EXPECT_EQ(std::string(item.name), fits);
    item = filledRecord();
    EXPECT_EQ(GetArchiveItem(h, 1, item), AR_NAME_TOO_LONG);
    EXPECT_EQ(item.name[0], '\0');
    EXPECT_EQ(h->reader->cachedIndex, 0);
    EXPECT_EQ(ExtractArchiveItem(h, 1, "C:/out/n"), AR_NAME_TOO_LONG);
    EXPECT_FALSE(exists("C:/out"));
}

TEST_F(CatalogueTest, DataAheadOfTheArchiveIsSkipped) {
    // The directory's offsets count from the archive's start, not the file's: the extra
    // field and the data of every kind of item must be found past the stub. A Zip64
    // locator's offset may count from either.
    const std::string extra = zipwrite::utBlock(1, {1000});
    const std::string big(40000, 'b');
    const RawEntry entries[] = {
        {.name = "deflated", .content = "payload", .method = 8, .localExtra = extra},
        {.name = "stored", .content = big, .localExtra = extra},
        {.name = "encrypted stored", .content = "secret", .encrypt = true, .localExtra = extra},
        {.name = "encrypted deflated",
         .content = big,
         .method = 8,
         .encrypt = true,
         .localExtra = extra},
        {.name = "central Zip64",
         .content = big,
         .method = 8,
         .localExtra = extra,
         .zip64Local = true,
         .zip64Central = kCentralUncompressed | kCentralCompressed | kCentralOffset},
    };
    const std::vector<RawEntry> all(std::begin(entries), std::end(entries));
    const std::string stub(713, 'S');
    const std::string plain = buildArchive(all, stub);
    const struct {
        const char* what;
        std::string bytes;
    } layouts[] = {
        {"end record", plain},
        {"Zip64 end record, no stub", withZip64End(buildArchive(all), all.size())},
        {"Zip64 end record, its locator counting from the archive",
         withZip64End(plain, all.size(), stub.size())},
        {"Zip64 end record, its locator counting from the file",
         withZip64End(plain, all.size(), stub.size(), true)},
    };
    int n = 0;
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.what);
        ArchiveHandle h = open(putArchive("prefixed" + std::to_string(++n) + ".zip", layout.bytes));
        ASSERT_NE(h, nullptr);
        for (int i = 0; i < static_cast<int>(all.size()); ++i) {
            SCOPED_TRACE(all[i].name);
            ArchiveItem item;
            ASSERT_EQ(GetArchiveItem(h, i, item), AR_OK);
            EXPECT_EQ(item.lastWriteTime.ticks(), (1000 + 11644473600ull) * 10000000ull);
            const std::string target = "C:/out" + std::to_string(n) + "/" + all[i].name;
            EXPECT_EQ(ExtractArchiveItem(h, i, target.c_str()), AR_OK);
            EXPECT_TRUE(read(target) == all[i].content);
        }
    }
}

// The CRC-32 of `mebibytes` MiB of zeros, without a buffer of that size.
uint32_t crcOfZeros(uint64_t mebibytes) {
    const std::string block(std::size_t{1} << 20, '\0');
    const uLong oneMiB = crc32(0, reinterpret_cast<const Bytef*>(block.data()), 1u << 20);
    uLong crc = crc32(0, nullptr, 0);
    for (uint64_t i = 0; i < mebibytes; ++i) {
        crc = crc32_combine(crc, oneMiB, 1L << 20);
    }
    return static_cast<uint32_t>(crc);
}

// An archive of 4.1 GiB whose first item is a stored run of zeros, left as a hole, and
// whose second item is stored past the 4 GiB mark: its central entry gives its offset in
// a Zip64 block. The first is too large for the record at once; the second unpacks, and
// nothing reads the hole.
TEST_F(CatalogueTest, ItemsPastFourGiBUnpack) {
    constexpr uint64_t kMiB = 1 << 20;
    constexpr uint64_t kZeros = 4196 * kMiB;  // 4.1 GiB
    const std::string small = "stored past the 4 GiB mark\n";
    std::string head;  // the first local header, with Zip64 sizes
    append32(head, zip::kLocalHeaderSignature);
    head += std::string("\x2D\0\0\0\0\0", 6);  // version 4.5, no flags, stored
    append32(head, 0x38C16000);
    append32(head, crcOfZeros(kZeros / kMiB));
    append32(head, zip::kZip64Marker);
    append32(head, zip::kZip64Marker);
    append16(head, 9);
    append16(head, 20);
    head += "zeros.bin";
    append16(head, zip::kZip64ExtraId);
    append16(head, 16);
    append64(head, kZeros);
    append64(head, kZeros);
    const uint64_t secondAt = head.size() + kZeros;
    const std::string second = buildArchive({{.name = "small.txt", .content = small}});
    // buildArchive's central entry and end record, moved behind the hole: the entry's
    // offset becomes a Zip64 marker with the real one in a block, the first item's entry
    // goes ahead of it, and the directory's offset moves into a Zip64 end record.
    const std::size_t localSize = zip::kLocalHeaderSize + 9 + small.size();
    std::string central;
    append32(central, zip::kCentralHeaderSignature);
    central += head.substr(4, 2);       // made by: version 4.5, DOS
    central += head.substr(4, 26 - 4);  // version needed to CRC and sizes
    append16(central, 9);
    append16(central, 20);
    central += std::string(6, '\0');  // comment, disk, internal attributes
    append32(central, 0x20);
    append32(central, 0);  // the first item's offset
    central += "zeros.bin";
    append16(central, zip::kZip64ExtraId);
    append16(central, 16);
    append64(central, kZeros);
    append64(central, kZeros);
    std::string entry = second.substr(localSize, zip::kCentralHeaderSize + 9);
    entry[zip::central::extraLength] = 12;
    for (int i = 0; i < 4; ++i) {
        entry[zip::central::localHeaderOffset + i] = '\xFF';
    }
    append16(entry, zip::kZip64ExtraId);
    append16(entry, 8);
    append64(entry, secondAt);
    central += entry;
    std::string tail = second.substr(0, localSize) + central;
    std::string end;
    append32(end, zip::kEndSignature);
    append32(end, 0);
    append16(end, 2);
    append16(end, 2);
    append32(end, static_cast<uint32_t>(central.size()));
    append32(end, zip::kZip64Marker);
    append16(end, 0);
    tail = withZip64End(tail + end, 2);
    // withZip64End took the tail for a whole archive: its offsets move by secondAt.
    const std::size_t zip64End =
        tail.size() - zip::kEndSize - zip::kZip64LocatorSize - zip::kZip64EndSize;
    std::string fixed;
    append64(fixed, secondAt + localSize);
    tail.replace(zip64End + zip::zip64End::directoryOffset, 8, fixed);
    fixed.clear();
    append64(fixed, secondAt + zip64End);
    tail.replace(
        tail.size() - zip::kEndSize - zip::kZip64LocatorSize + zip::zip64Locator::endOffset, 8,
        fixed);

    const std::string path = "C:/zips/big.zip";
    const int64_t allocated = writeSparseHostFile(prefix.host(path), secondAt + tail.size(),
                                                  {{0, head}, {secondAt, tail}});
    ASSERT_GE(allocated, 0) << "the sparse archive could not be written";
    if (allocated > int64_t{64 * kMiB}) {
        std::filesystem::remove(prefix.host(path));
        GTEST_SKIP() << "the file system has no holes: the archive took " << allocated << " bytes";
    }
    fault::FaultInjector faults;
    ArchiveHandle h = open(path);
    ASSERT_NE(h, nullptr);
    ArchiveItem item;
    ASSERT_EQ(GetArchiveItem(h, -1, item), AR_OK);
    EXPECT_EQ(item.index, 2);
    EXPECT_EQ(GetArchiveItem(h, 0, item), AR_ITEM_TOO_LARGE);
    EXPECT_EQ(ExtractArchiveItem(h, 0, "C:/big/zeros.bin"), AR_ITEM_TOO_LARGE);
    EXPECT_FALSE(exists("C:/big"));
    ASSERT_EQ(GetArchiveItem(h, 1, item), AR_OK);
    EXPECT_STREQ(item.name, "small.txt");
    EXPECT_EQ(ExtractArchiveItem(h, 1, "C:/big/small.txt"), AR_OK);
    EXPECT_EQ(read("C:/big/small.txt"), small);
    EXPECT_EQ(close(h), AR_OK);
    // A few windows of headers and directory, never 4 GiB of zeros.
    EXPECT_LE(faults.calls(fault::Call::readFileAt), 20);
    std::filesystem::remove(prefix.host(path));
}

TEST_F(CatalogueTest, FailedReadsOfTheHeaderAndTheExtraField) {
    // The second item's header lies at the end of a window that nothing read yet, so
    // that its extra field, running into the next window, takes a read of its own. The
    // directory lies far beyond, behind a third item.
    std::string extra = "ZZ";
    extra += static_cast<char>(0x64);
    extra += static_cast<char>(0x19);  // 6500 data bytes
    extra += std::string(6500, 'e');
    const std::size_t first = 2 * archive::SeamFile::kBufferSize - 40 - zip::kLocalHeaderSize - 1;
    const std::string path =
        putArchive("extra.zip", buildArchive({{.name = "a", .content = std::string(first, 'a')},
                                              {.name = "b", .content = "2", .localExtra = extra},
                                              {.name = "c", .content = std::string(200000, 'c')}}));
    auto readsToDescribe = [&](int failAt, ArchiveResult& result) {
        ArchiveHandle h = open(path);
        ArchiveItem item;
        EXPECT_EQ(GetArchiveItem(h, 0, item), AR_OK);
        fault::FaultInjector faults;
        if (failAt > 0) {
            faults.failNth(fault::Call::readFileAt, failAt);
        }
        result = GetArchiveItem(h, 1, item);
        const int reads = faults.calls(fault::Call::readFileAt);
        close(h);
        return reads;
    };
    ArchiveResult result = AR_OK;
    const int reads = readsToDescribe(0, result);
    ASSERT_EQ(result, AR_OK);
    ASSERT_GE(reads, 2);
    // Every read of the description matters; the last one is the extra field's.
    for (int k = 1; k <= reads; ++k) {
        SCOPED_TRACE(k);
        readsToDescribe(k, result);
        EXPECT_TRUE(result == AR_BAD_CATALOGUE || result == AR_BAD_LOCAL_HEADER ||
                    result == AR_READ_FAILED)
            << std::hex << result;
    }
    EXPECT_EQ(result, AR_READ_FAILED);
}

}  // namespace
}  // namespace fw::test
