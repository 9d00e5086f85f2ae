// Hostile archives, walked the way the installation walks its payload: open, count,
// then describe and extract every item to "C:/Temp/_Download/_UnZip/" + its name.
// Whatever the archive holds, nothing may be written outside the staging folder, the
// walk must end, and each item gets its defined result. Every archive is walked twice,
// by one worker and by four, which must leave the same tree and the same results.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/ArchiveReader.h"
#include "archive/ArchiveUnpacker.h"
#include "platform/fault/FaultPlatform.h"
#include "tests/support/PrefixSnapshot.h"
#include "tests/support/RawZip.h"
#include "tests/support/TempPrefix.h"

namespace fw::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUnpackPrefix = "C:/Temp/_Download/_UnZip/";
constexpr std::size_t kUnpackPrefixLength = 25;

struct ItemOutcome {
    std::string name;  // as described
    ArchiveResult result = AR_OK;
    friend bool operator==(const ItemOutcome&, const ItemOutcome&) = default;
};

void PrintTo(const ItemOutcome& item, std::ostream* out) {
    const char* result = ArchiveResultName(item.result);
    *out << '"' << item.name << "\" " << (result != nullptr ? result : "?");
}

struct Walk {
    bool opened = false;
    int32_t count = 0;
    std::vector<ItemOutcome> items;
    std::vector<std::string> escaped;
    uint64_t bytesWritten = 0;  // below the staging folder
    std::vector<std::string> tree;
};

void put16(std::string& s, std::size_t at, uint32_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

RawEntry stored(std::string name, std::string content) {
    RawEntry e;
    e.name = std::move(name);
    e.content = std::move(content);
    return e;
}

class HostileArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = fs::current_path();
        // Files that must stay as they are, beside and above the staging folder.
        writeHostFile(prefix.host("C:/Temp/keep.txt"), "keep");
        writeHostFile(prefix.host("C:/Temp/_Download/keep.txt"), "keep");
        writeHostFile(prefix.host("C:/Windows/keep.txt"), "keep");
        fs::create_directories(prefix.host("C:/work"));
        fs::create_directories(prefix.host("C:/Temp/_Download/_UnZip"));
        fs::current_path(prefix.host("C:/work"));
    }
    void TearDown() override {
        fs::current_path(saved_);
        unsetenv("LC_ALL");
    }

    // The installation's loop over `bytes`, in a fresh staging folder, by one worker and
    // by four: what they did must be the same. What the one did is returned; the tree
    // below the staging folder is the other's.
    Walk walk(const std::string& bytes) {
        const Walk one = walkWith(bytes, 1);
        const Walk four = walkWith(bytes, 4);
        EXPECT_EQ(one.opened, four.opened);
        EXPECT_EQ(one.count, four.count);
        EXPECT_EQ(one.items, four.items);
        EXPECT_EQ(one.tree, four.tree);
        EXPECT_TRUE(four.escaped.empty()) << four.escaped.front();
        return one;
    }

    Walk walkWith(const std::string& bytes, int workers) {
        fs::remove_all(prefix.host("C:/Temp/_Download/_UnZip"));
        fs::create_directories(prefix.host("C:/Temp/_Download/_UnZip"));
        writeHostFile(prefix.host("C:/zips/hostile.zip"), bytes);
        const PrefixSnapshot before = snapshotPrefix(prefix.root());
        const auto started = fs::file_time_type::clock::now() - std::chrono::seconds(2);

        Walk w;
        ArchiveHandle archive = OpenArchive("C:\\zips\\hostile.zip");
        w.opened = archive != nullptr;
        ArchiveItem item;
        GetArchiveItem(archive, -1, item);
        w.count = item.index;
        {
            archive::ArchiveUnpacker unpacker(archive, w.count, kUnpackPrefix, workers);
            for (archive::ItemOutcome unpacked; unpacker.next(unpacked);) {
                w.items.push_back({unpacked.name, unpacked.result});
            }
        }
        EXPECT_EQ(CloseArchive(archive), w.opened ? AR_OK : AR_BAD_ARGUMENT);

        w.escaped = outside(changedPaths(before, snapshotPrefix(prefix.root())), {},
                            {"drive_c/Temp/_Download/_UnZip"});
        for (const auto& e :
             fs::recursive_directory_iterator(prefix.host("C:/Temp/_Download/_UnZip"))) {
            if (e.is_regular_file()) {
                w.bytesWritten += e.file_size();
            }
        }
        w.tree = treeLines(prefix.host("C:/Temp/_Download/_UnZip"), started);
        return w;
    }

    // Host paths of the files below the staging folder that hold exactly `content`.
    std::vector<std::string> filesHolding(const std::string& content) const {
        std::vector<std::string> found;
        for (const auto& e :
             fs::recursive_directory_iterator(prefix.host("C:/Temp/_Download/_UnZip"))) {
            if (e.is_regular_file() && readHostFile(e.path().string()) == content) {
                found.push_back(fs::relative(e.path(), prefix.host("C:/Temp/_Download/_UnZip"))
                                    .generic_string());
            }
        }
        return found;
    }

    TempPrefix prefix;

  private:
    fs::path saved_;
};

// Names that climb, start at a root or a drive, or name a server: each is cleaned into
// a relative name, so the item lands below the staging folder and nowhere else.
TEST_F(HostileArchiveTest, NamesThatClimbOrStartAtARootLandInsideTheStagingFolder) {
    std::vector<std::string> names;
    for (const std::string up : {"../", "..\\", "../..\\", "..\\../"}) {
        std::string climb;
        for (int depth = 1; depth <= 5; ++depth) {
            climb += up;
            names.push_back(climb + "evil.txt");
            names.push_back("a/" + climb + "evil.txt");
            names.push_back("a\\b\\" + climb + "evil.txt");
            names.push_back("a/b/c/" + climb + "Windows/evil.txt");
        }
    }
    for (const std::string name :
         {"/etc/evil.txt", "\\evil.txt", "C:\\Windows\\evil.txt", "C:/evil.txt", "Z:/tmp/evil.txt",
          "c:..\\..\\evil.txt", "\\\\server\\share\\evil.txt", "//server/share/evil.txt",
          "\\\\?\\C:\\evil.txt", "a\\b/../..\\c/evil.txt", "/../../evil.txt", "..", "../",
          "a/.."}) {
        names.push_back(name);
    }
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string content = "content of " + name;
        const Walk w = walk(buildArchive({stored(name, content)}));
        ASSERT_TRUE(w.opened);
        ASSERT_EQ(w.items.size(), 1u);
        EXPECT_TRUE(w.escaped.empty()) << ::testing::PrintToString(w.escaped);
        const std::string& cleaned = w.items[0].name;
        EXPECT_FALSE(cleaned.starts_with("/") || cleaned.starts_with("\\") ||
                     (cleaned.size() >= 2 && cleaned[1] == ':'))
            << cleaned;
        if (w.items[0].result == AR_OK) {
            EXPECT_EQ(filesHolding(content).size(), 1u);
        } else {
            // Only a name that cleans down to nothing, or to a folder, has no file to write.
            EXPECT_EQ(w.items[0].result, AR_CANNOT_OPEN) << cleaned;
            // or to a name with a character Windows does not allow.
            EXPECT_TRUE(cleaned.empty() || cleaned.ends_with("..") || cleaned.ends_with("/") ||
                        cleaned.find_first_of("?*<>|\":") != std::string::npos)
                << cleaned;
        }
    }
}

// Double-byte names of code page 936 whose trail byte is 0x5C or 0x2F: under 936 that
// byte is no separator, under 1252 it is. Either way nothing climbs out.
TEST_F(HostileArchiveTest, TrailBytesThatLookLikeSeparatorsNeverClimb) {
    const std::vector<std::string> names = {
        "\x81\x5C..\\evil.txt",        "\x81\x5C..\\..\\..\\evil.txt", "a/\x95\x5C/../../evil.txt",
        "\x81\x2F..\\..\\evil.txt",    "\xB1\x5C\\..\\..\\evil.txt",   "\x81\x5C\x81\x5C..\\..\\e",
        "disk1/\xB0\xB2\x5C..\\x.txt",
    };
    for (const char* locale : {"zh_CN.UTF-8", "en_US.UTF-8"}) {
        setenv("LC_ALL", locale, 1);
        for (const std::string& name : names) {
            SCOPED_TRACE(std::string(locale) + " " + name);
            const Walk w = walk(buildArchive({stored(name, "dbcs")}));
            ASSERT_EQ(w.items.size(), 1u);
            EXPECT_TRUE(w.escaped.empty()) << ::testing::PrintToString(w.escaped);
            // A name the platform cannot spell in the code page is refused, never cut.
            EXPECT_TRUE(w.items[0].result == AR_OK || w.items[0].result == AR_CANNOT_OPEN)
                << std::hex << w.items[0].result;
            EXPECT_EQ(filesHolding("dbcs").size(), w.items[0].result == AR_OK ? 1u : 0u);
        }
    }
}

// Every composed path has room for 259 characters: a name that makes the target longer
// is refused before anything is created, and a stored name of 260 bytes or more does
// not fit the record at all. A name with a NUL byte is refused too: cut there, two
// names that differ after it would name one file. Nothing is ever cut short.
TEST_F(HostileArchiveTest, LongNamesAndNamesWithNulAreRefusedWholeNeverCut) {
    const std::size_t fits = 259 - kUnpackPrefixLength;
    const auto named = [](std::size_t length) { return "d/" + std::string(length - 2, 'n'); };
    const struct {
        std::string name;
        ArchiveResult result;
    } cases[] = {
        {named(fits), AR_OK},
        {named(fits + 1), AR_PATH_TOO_LONG},
        {named(259), AR_PATH_TOO_LONG},
        {named(260), AR_NAME_TOO_LONG},
        {named(300), AR_NAME_TOO_LONG},
        {named(1000), AR_NAME_TOO_LONG},
        {std::string("d/n.txt\0.exe", 11), AR_NAME_HAS_NUL},
        {std::string("\0", 1), AR_NAME_HAS_NUL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.size());
        const std::string& name = c.name;
        const Walk w = walk(buildArchive({stored(name, "long")}));
        ASSERT_EQ(w.items.size(), 1u);
        EXPECT_EQ(w.items[0].result, c.result);
        EXPECT_TRUE(w.escaped.empty());
        if (c.result == AR_OK) {
            EXPECT_EQ(w.items[0].name, name);
            EXPECT_EQ(filesHolding("long").size(), 1u);
        } else {
            EXPECT_EQ(w.bytesWritten, 0u);
            EXPECT_TRUE(fs::is_empty(prefix.host("C:/Temp/_Download/_UnZip")));
        }
    }
}

// Device names and names ending in a dot or a blank are written as the platform spells
// them, inside the staging folder: a trailing dot or blank goes, as Win32 drops it.
TEST_F(HostileArchiveTest, DeviceNamesAndTrailingDotsOrBlanksStayInside) {
    const struct {
        const char* name;
        const char* lands;  // below the staging folder; null: wherever the platform puts it
    } cases[] = {
        {"disk1/x.", "disk1/x"},   {"disk1/y ", "disk1/y"}, {"disk1/z. . ", "disk1/z"},
        {"disk1/dir./f", nullptr}, {"disk1/NUL", nullptr},  {"disk1/CON.txt", nullptr},
        {"disk1/COM1", nullptr},   {"NUL", nullptr},        {"disk1/aux/x", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string content = std::string("device ") + c.name;
        const Walk w = walk(buildArchive({stored(c.name, content)}));
        ASSERT_EQ(w.items.size(), 1u);
        EXPECT_EQ(w.items[0].result, AR_OK);
        EXPECT_TRUE(w.escaped.empty()) << ::testing::PrintToString(w.escaped);
        const std::vector<std::string> found = filesHolding(content);
        ASSERT_EQ(found.size(), 1u);
        if (c.lands) {
            EXPECT_EQ(found[0], c.lands);
        }
    }
}

// A local header that disagrees with its central entry: the item is refused before its
// output file exists; the items around it are unpacked.
TEST_F(HostileArchiveTest, LocalHeadersThatDisagreeAreRefused) {
    RawEntry method = stored("method.txt", "m");
    method.localMethod = 8;
    RawEntry crc = stored("crc.txt", "c");
    crc.localCrc = 0xDEADBEEF;
    RawEntry nameLength = stored("length.txt", "l");
    nameLength.localNameLength = 3;
    RawEntry unknownMethod = stored("method99.txt", "u");
    unknownMethod.method = 99;
    const Walk w = walk(buildArchive({stored("first.txt", "1"), method, crc, nameLength,
                                      unknownMethod, stored("last.txt", "2")}));
    ASSERT_EQ(w.items.size(), 6u);
    EXPECT_EQ(w.items[0].result, AR_OK);
    for (std::size_t i = 1; i <= 4; ++i) {
        EXPECT_EQ(w.items[i].result, AR_BAD_LOCAL_HEADER) << i;
    }
    EXPECT_EQ(w.items[5].result, AR_OK);
    EXPECT_EQ(w.bytesWritten, 2u);
    EXPECT_TRUE(w.escaped.empty());
}

// Cut at every sixteenth of its length, an archive loses its end record and does not
// open; cut out of its middle, it opens and its damaged items fail on their own.
TEST_F(HostileArchiveTest, TruncatedArchivesOpenNotOrFailPerItem) {
    std::vector<RawEntry> entries;
    for (int i = 0; i < 8; ++i) {
        RawEntry e =
            stored("disk1/f" + std::to_string(i) + ".txt", std::string(3000, char('a' + i)));
        e.method = i % 2 ? 8 : 0;
        entries.push_back(e);
    }
    const std::string whole = buildArchive(entries);
    for (std::size_t k = 1; k < 16; ++k) {
        SCOPED_TRACE(k);
        const Walk w = walk(whole.substr(0, whole.size() * k / 16));
        EXPECT_FALSE(w.opened);
        EXPECT_EQ(w.count, 0);
        EXPECT_EQ(w.bytesWritten, 0u);
        EXPECT_TRUE(w.escaped.empty());

        // The same cut taken out of the data, the directory kept: offsets now point
        // at the wrong bytes.
        const std::size_t cut = whole.size() * k / 16 / 2;
        const Walk holed = walk(whole.substr(0, cut) + whole.substr(cut + 500));
        EXPECT_TRUE(holed.escaped.empty());
        for (const ItemOutcome& item : holed.items) {
            EXPECT_TRUE(item.result == AR_OK || item.result == AR_BAD_LOCAL_HEADER ||
                        item.result == AR_BAD_CATALOGUE || item.result == AR_INFLATE_FAILED ||
                        item.result == AR_READ_FAILED)
                << item.name << " " << std::hex << item.result;
        }
    }
}

// Several central entries over one local header: each is unpacked within its own stated
// size, so the total written is what the central directory states.
TEST_F(HostileArchiveTest, ItemsSharingOneLocalHeaderUnpackEachWithinItsSize) {
    std::string bytes = buildArchive({stored("a.txt", "shared")});
    // Copy the one central entry eight times, with names of the same length.
    const std::size_t end = bytes.size() - zip::kEndSize;
    const std::size_t entrySize = zip::kCentralHeaderSize + 5;
    const std::size_t central = end - entrySize;
    std::string entries;
    for (char c = 'a'; c < 'i'; ++c) {
        std::string entry = bytes.substr(central, entrySize);
        entry[zip::kCentralHeaderSize] = c;  // the name's first byte
        entries += entry;
    }
    std::string record = bytes.substr(end);
    put16(record, zip::eocd::diskEntries, 8);
    put16(record, zip::eocd::entries, 8);
    put16(record, zip::eocd::directorySize, static_cast<uint32_t>(entries.size()));
    put16(record, zip::eocd::directorySize + 2, 0);
    bytes = bytes.substr(0, central) + entries + record;
    const Walk w = walk(bytes);
    ASSERT_EQ(w.items.size(), 8u);
    for (const ItemOutcome& item : w.items) {
        EXPECT_EQ(item.result, AR_OK) << item.name;
    }
    EXPECT_EQ(w.bytesWritten, 8u * 6u);
    EXPECT_TRUE(w.escaped.empty());
}

// Highly compressed data whose last input byte is consumed while the inflater still
// holds output: the rest must be drained, not taken for the end of the data. (The last
// pieces of a long run of zeros were lost, and the item reported as failed.)
TEST_F(HostileArchiveTest, OutputPendingAfterTheLastInputIsDrained) {
    for (const std::size_t lead :
         {std::size_t{1}, std::size_t{41}, std::size_t{123}, std::size_t{300}}) {
        for (const std::size_t zeros : {std::size_t{1} << 20, (std::size_t{2} << 20) - 77}) {
            SCOPED_TRACE(std::to_string(lead) + " + " + std::to_string(zeros));
            RawEntry e =
                stored("disk1/zeros.bin", std::string(lead, 'h') + std::string(zeros, '\0'));
            e.method = 8;
            const Walk w = walk(buildArchive({e}));
            ASSERT_EQ(w.items.size(), 1u);
            EXPECT_EQ(w.items[0].result, AR_OK);
            EXPECT_EQ(readHostFile(prefix.host("C:/Temp/_Download/_UnZip/disk1/zeros.bin")),
                      e.content);
        }
    }
}

// Found by fuzzing: an end record that states 768 items, whose first central entry's
// extra field runs past the end of the file. Every description restarted at the first
// item, and the container then walked that extra field four bytes at a time, each read
// past the end going to the platform: about a second per item, hours per archive. Reads
// past the end of the file are answered without the platform now, the count is what
// the directory's 177 bytes can hold, and the items after the first failure fail at once.
// Items that touch one path, whatever the letter case, trailing dots or the way there:
// a later one replaces an earlier one's file, a file stands where a later one's folder
// belongs, a read-only file is in the way of the next of its name. The results depend on
// the order, and the order is the archive's, on one worker or on four; many plain items
// around them keep the workers busy in between.
TEST_F(HostileArchiveTest, ItemsSharingAPathKeepTheArchivesOrder) {
    std::vector<RawEntry> entries;
    const auto add = [&](std::string name, std::string content, uint32_t external = 0x20) {
        RawEntry e = stored(std::move(name), std::move(content));
        e.external = external;
        entries.push_back(e);
    };
    for (int i = 0; i < 40; ++i) {
        add("plain/" + std::to_string(i) + ".txt", std::string(3000 + 100 * i, 'p'));
    }
    add("same/a.txt", "first");
    add("Same/A.TXT", "second");
    add("same/./a.txt.", "third");
    add("file", "a file");
    add("FILE/below.txt", "under a file");
    add("ro.txt", "read-only", 0x21);
    add("RO.TXT", "after a read-only one");
    add("dir/", "", 0x10);
    add("DIR", "a file where a folder is");
    add("x/./z.txt", "through a dot");
    add("X/z.txt", "the same file");
    for (int i = 40; i < 80; ++i) {
        add("plain/" + std::to_string(i) + ".txt", std::string(3000 + 100 * i, 'q'));
    }
    const Walk w = walk(buildArchive(entries));
    ASSERT_EQ(w.items.size(), entries.size());
    const auto resultOf = [&](const std::string& name) {
        for (const ItemOutcome& item : w.items) {
            if (item.name == name) {
                return item.result;
            }
        }
        ADD_FAILURE() << name;
        return AR_OK;
    };
    EXPECT_EQ(resultOf("FILE/below.txt"), AR_CANNOT_OPEN);
    EXPECT_EQ(resultOf("RO.TXT"), AR_CANNOT_OPEN);
    EXPECT_EQ(resultOf("DIR"), AR_CANNOT_OPEN);
    EXPECT_EQ(filesHolding("third"), std::vector<std::string>{"same/a.txt"});
    EXPECT_EQ(filesHolding("the same file"), std::vector<std::string>{"x/z.txt"});
    EXPECT_TRUE(filesHolding("through a dot").empty());
}

const std::string kExtraFieldPastTheEnd(
    "\x50\x4b\x03\x04\x14\x00\x00\x00\x08\x00\x00\x60\xc1\x38\xe6\x20"
    "\xf4\xa7\x31\x00\x00\x00\x64\x00\x00\x00\x0d\x00\x11\x00\x64\x97"
    "\x8c\x94\xd5\x2f\x61\x6c\x6c\x2e\x74\x78\x74\x55\x54\x0d\x00\x07"
    "\x00\x8c\x86\x47\x64\x8c\x86\x47\xc8\x8c\x86\x47\x9d\xca\xd1\x09"
    "\x00\x20\x08\x05\xc0\x55\xde\x6a\x52\x0f\x12\xa4\x22\x35\xd7\x6f"
    "\x87\xee\xfb\x74\x7a\x88\x19\x62\x10\x5d\x42\x70\xe8\x2b\x4f\x23"
    "\x9c\x91\x1b\xa5\xb3\xaf\xc2\x15\x4b\x42\xff\xf2\x03\x50\x4b\x03"
    "\x04\x14\x00\x00\x00\x00\x00\x00\x60\xc1\x38\x7e\xba\x5b\x75\x32"
    "\x00\x00\x00\x32\x00\x00\x00\x0d\x00\x09\x00\x64\x69\x73\x6b\x31"
    "\x2f\x6c\x6f\x6e\x65\x2e\x74\x78\x74\x55\x54\x05\x00\x01\xff\xff"
    "\xff\xff\x69\x6e\x73\x74\x61\x6c\x6c\x20\x74\x68\x65\x20\x64\x61"
    "\x74\x61\x20\x72\x65\x73\x6f\x75\x72\x63\x65\x20\x73\x65\x74\x75"
    "\x70\x20\x77\x69\x6e\x64\x6f\x77\x20\x76\x61\x6c\x75\xa5\xdf\x96"
    "\x91\x73\x74\x61\x50\x4b\x03\x04\x14\x00\x00\x00\x00\x00\x00\x60"
    "\xc1\x38\x83\x16\xdc\x8c\x01\x00\x00\x00\x01\x00\x00\x00\x0d\x00"
    "\x07\x00\x2e\x2e\x5c\x64\x69\x73\x6b\x31\x2f\x63\x75\x74\x2e\x74"
    "\x78\x74\x55\x54\x05\x00\x07\x01\x02\x78\x50\x4b\x01\x02\x74\x7a"
    "\x88\x19\x62\x10\x5d\x42\x70\xe8\x2b\x4f\x23\x9c\x91\x1b\xa5\xb3"
    "\xaf\xc2\x15\x4b\x42\xff\xf2\x03\x50\x4b\x03\x04\x14\x00\x00\x00"
    "\x00\x00\x00\x60\xc1\x38\x7e\xba\x5b\x75\x32\x00\x00\x00\x32\x00"
    "\x00\x00\x0d\x00\x09\x00\x64\x69\x73\x6b\x31\x2f\x6c\x6f\x6e\x65"
    "\x2e\x74\x78\x74\x55\x54\x05\x00\x01\xff\xff\xff\xff\x69\x6e\x73"
    "\x74\x61\x6c\x6c\x20\x74\x68\x65\x20\x64\x61\x74\x61\x20\x72\x65"
    "\x73\x6f\x75\x72\x63\x65\x20\x73\x65\x74\x75\x70\x20\x77\x69\x6e"
    "\x64\x6f\x77\x20\x76\x61\x6c\x75\xa5\xdf\x96\x91\x73\x74\x61\x50"
    "\x4b\x03\x04\x14\x00\x00\x00\x00\x00\x00\x60\xc1\x38\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x20\x00\x00\x00\xd3\x00\x00\x00\x64\x69"
    "\x73\x6b\x31\x2f\x63\x88\x8b\xd1\x8b\x78\x74\x50\x4b\x05\x06\x00"
    "\x00\x00\x00\x00\x03\x00\x03\xb1\x00\x00\x00\x06\x01\x00\x00\x00"
    "\x00",
    465);

TEST_F(HostileArchiveTest, AnExtraFieldPastTheEndCostsNoReadsPerStep) {
    fault::FaultInjector counting;  // fails nothing, counts the platform's reads
    const Walk w = walk(kExtraFieldPastTheEnd);
    ASSERT_TRUE(w.opened);
    ASSERT_EQ(w.count, 177 / 46);
    for (const ItemOutcome& item : w.items) {
        EXPECT_EQ(item.result, AR_BAD_CATALOGUE);
    }
    EXPECT_EQ(w.bytesWritten, 0u);
    EXPECT_TRUE(w.escaped.empty());
    // Before, each description cost about 20000 platform reads.
    EXPECT_LT(counting.calls(fault::Call::readFileAt), 20);
}

// The peak resident size of this process so far, in KB.
long peakResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmHWM:")) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

// A zip bomb of overlapping items: each local header is quoted, as a stored deflate
// block, inside the data of the item before it, and all items end in one shared kernel
// that inflates to many zeros. Every item's data is well formed and its CRC is right.
//
// The defined result: each item is unpacked within its own stated size and the
// installer's loop goes on, so the total written is exactly the sum of the central
// directory's sizes, never more, and the reader streams it in bounded memory.
std::string quotedOverlapBomb(int items, std::size_t kernelZeros, uint64_t& statedTotal) {
    std::string zeros(kernelZeros, '\0');
    const std::string kernel = deflateRaw(zeros);
    // Built from the last item back: each item's data and unpacked content include
    // every local header after it.
    std::vector<std::string> headers(static_cast<std::size_t>(items));
    std::vector<std::string> data(static_cast<std::size_t>(items));
    std::vector<std::string> plain(static_cast<std::size_t>(items));
    std::vector<std::string> names(static_cast<std::size_t>(items));
    for (int i = items - 1; i >= 0; --i) {
        const auto at = static_cast<std::size_t>(i);
        names[at] = "bomb/" + std::string(1, char('A' + i / 26)) + char('a' + i % 26) + ".bin";
        if (i == items - 1) {
            data[at] = kernel;
            plain[at] = zeros;
        } else {
            const std::string& next = headers[at + 1];
            std::string quote(1, '\0');
            append16(quote, static_cast<uint32_t>(next.size()));
            append16(quote, static_cast<uint32_t>(~next.size() & 0xFFFF));
            data[at] = quote + next + data[at + 1];
            plain[at] = next + plain[at + 1];
        }
        std::string h;
        append32(h, zip::kLocalHeaderSignature);
        append16(h, 20);
        append16(h, 0);
        append16(h, 8);
        append32(h, 0x38C16000);
        append32(h, crcOf(plain[at]));
        append32(h, static_cast<uint32_t>(data[at].size()));
        append32(h, static_cast<uint32_t>(plain[at].size()));
        append16(h, static_cast<uint32_t>(names[at].size()));
        append16(h, 0);
        headers[at] = h + names[at];
    }
    // The file: every local header once, the data of the last item, then the directory
    // with each entry's offset at its own header.
    std::string file;
    std::vector<uint32_t> offsets;
    for (int i = 0; i < items; ++i) {
        const auto at = static_cast<std::size_t>(i);
        offsets.push_back(static_cast<uint32_t>(file.size()));
        file += headers[at];
        if (i < items - 1) {
            file += data[at].substr(0, 5);  // the quote of the next header
        }
    }
    file += kernel;
    statedTotal = 0;
    std::string central;
    for (int i = 0; i < items; ++i) {
        const auto at = static_cast<std::size_t>(i);
        append32(central, zip::kCentralHeaderSignature);
        append16(central, (11 << 8) | 20);
        // Version needed to the extra field's length, as in the local header.
        central += headers[at].substr(zip::local::versionNeeded,
                                      zip::kLocalHeaderSize - zip::local::versionNeeded);
        append16(central, 0);  // comment
        append16(central, 0);  // disk
        append16(central, 0);  // internal attributes
        append32(central, 0x20);
        append32(central, offsets[at]);
        central += names[at];
        statedTotal += plain[at].size();
    }
    std::string record;
    append32(record, zip::kEndSignature);
    append32(record, 0);
    append16(record, static_cast<uint32_t>(items));
    append16(record, static_cast<uint32_t>(items));
    append32(record, static_cast<uint32_t>(central.size()));
    append32(record, static_cast<uint32_t>(file.size()));
    append16(record, 0);
    return file + central + record;
}

TEST_F(HostileArchiveTest, QuotedOverlapBombIsBoundedByItsStatedSizes) {
    uint64_t stated = 0;
    const std::string bomb = quotedOverlapBomb(24, std::size_t{2} << 20, stated);
    ASSERT_LT(bomb.size(), 16u * 1024);
    ASSERT_GT(stated, 40u << 20);  // an amplification of more than 2500 times

    const long peakBefore = peakResidentKb();
    const Walk w = walk(bomb);
    const long grown = peakResidentKb() - peakBefore;

    ASSERT_EQ(w.items.size(), 24u);
    for (const ItemOutcome& item : w.items) {
        EXPECT_EQ(item.result, AR_OK) << item.name;
    }
    EXPECT_EQ(w.bytesWritten, stated);
    EXPECT_TRUE(w.escaped.empty());
    EXPECT_LT(grown, 16 * 1024) << "KB of resident memory grown while unpacking";
}

}  // namespace
}  // namespace fw::test
