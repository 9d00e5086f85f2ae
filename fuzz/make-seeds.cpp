// Writes the fuzz target's seed corpus: one small archive for each feature the reader
// knows (stored, deflated, encrypted, "UT" blocks, folders, code page 936 names, data
// descriptors, leading bytes, no items, Zip64 local sizes and end records, names flagged
// as UTF-8), made by the same builders the tests use.
//
// Usage: ferrowick-make-seeds FOLDER
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pack/ZipWriter.h"
#include "tests/support/RawZip.h"

namespace fs = std::filesystem;
using fw::test::RawEntry;
using fw::zipwrite::Entry;

namespace {

std::string text(std::size_t size) {
    std::string out;
    while (out.size() < size) {
        out += "install the data resource setup window value ";
    }
    out.resize(size);
    return out;
}

bool writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

Entry entry(std::string name, std::string data, bool deflate = true) {
    Entry e;
    e.name = std::move(name);
    e.data = std::move(data);
    e.deflate = deflate;
    return e;
}

Entry folder(std::string name, uint16_t host, uint32_t external) {
    Entry e = entry(std::move(name), "", false);
    e.host = host;
    e.externalAttributes = external;
    return e;
}

RawEntry raw(std::string name, std::string content, uint16_t method) {
    RawEntry e;
    e.name = std::move(name);
    e.content = std::move(content);
    e.method = method;
    return e;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const fs::path out = argv[1];
    fs::create_directories(out);
    bool ok = true;

    const std::vector<std::pair<std::string, std::vector<Entry>>> made = {
        {"stored-and-deflated",
         {entry("disk1/DATA.TAG", "tag", false), entry("disk1/SETUP.EXE", text(3000)),
          entry("disk1/Res/REST/html1.htm", text(20000))}},
        {"ut-blocks",
         [] {
             Entry all = entry("disk1/all.txt", text(100));
             all.localExtra = fw::zipwrite::utBlock(7, {1200000000, 1200000100, 1200000200});
             Entry one = entry("disk1/one.txt", text(50), false);
             one.localExtra = fw::zipwrite::utBlock(1, {-1});
             Entry cut = entry("disk1/cut.txt", "x", false);
             cut.localExtra = std::string("UT\x05\x00\x07\x01\x02", 7);
             return std::vector<Entry>{all, one, cut};
         }()},
        {"folders-and-attributes",
         {folder("disk1/", fw::zipwrite::kHostNtfs, 0x10),
          folder("disk1/Empty/", fw::zipwrite::kHostUnix, (040755u << 16)),
          [] {
              Entry e = entry("disk1/readonly.txt", "ro", false);
              e.host = fw::zipwrite::kHostDos;
              e.externalAttributes = 0x21;
              return e;
          }(),
          [] {
              Entry e = entry("disk1/unix.txt", "unix", false);
              e.host = fw::zipwrite::kHostUnix;
              e.externalAttributes = 0100444u << 16;
              return e;
          }(),
          entry("disk1/empty.dat", "", false)}},
        {"code-page-936",
         {entry("disk1/\xB0\xB2\xD7\xB0/\xCA\xFD\xBE\xDD.txt", text(400)),
          entry("disk1/\x81\x5C..\\x.txt", "trail backslash", false),
          entry("disk1/\x81\x2F/y.txt", "trail slash", false)}},
        {"names-that-climb",
         {entry("../../x.txt", "a", false), entry("C:\\dir\\file.txt", "b", false),
          entry("a/b/../c/d.txt", "c", false), entry("\\\\server\\share\\f", "d", false)}},
    };
    for (const auto& [name, entries] : made) {
        std::string error;
        if (!fw::zipwrite::writeArchive((out / (name + ".zip")).string(), entries, &error)) {
            std::fprintf(stderr, "%s: %s\n", name.c_str(), error.c_str());
            ok = false;
        }
    }

    RawEntry encrypted = raw("disk1/secret.txt", text(500), 8);
    encrypted.encrypt = true;
    RawEntry encryptedStored = raw("disk1/secret2.txt", "plain", 0);
    encryptedStored.encrypt = true;
    encryptedStored.flags = 8;
    RawEntry descriptor = raw("disk1/descriptor.txt", text(700), 8);
    descriptor.flags = 8;
    descriptor.localCrc = 0;
    RawEntry disagrees = raw("disk1/disagrees.txt", "abc", 0);
    disagrees.localMethod = 8;
    RawEntry badCrc = raw("disk1/badcrc.txt", text(300), 8);
    badCrc.crc = 0x12345678;
    RawEntry exact = raw("disk1/exact.bin", text(16384), 8);
    RawEntry zip64 = raw("disk1/zip64.txt", text(600), 8);
    zip64.zip64Local = true;
    zip64.localExtra = fw::zipwrite::utBlock(1, {1200000000});
    RawEntry zip64Stored = raw("disk1/zip64.bin", text(90), 0);
    zip64Stored.zip64Local = true;
    RawEntry tooLarge = raw("disk1/large.bin", "x", 0);
    tooLarge.zip64CentralSize = uint64_t{5} << 30;
    // UTF-8 names: one every code page spells, one only 936 does, one in no code page.
    RawEntry utf8 = raw("disk1/caf\u00e9.txt", text(40), 0);
    utf8.flags = 0x800;
    RawEntry utf8Chinese = raw("disk1/\u8bf4\u660e/\u4e57..\\x.txt", text(70), 8);
    utf8Chinese.flags = 0x800;
    RawEntry utf8Nowhere = raw("disk1/\U0001F600.txt", "smile", 0);
    utf8Nowhere.flags = 0x800;

    const std::vector<std::pair<std::string, std::string>> built = {
        {"encrypted", fw::test::buildArchive({encrypted, encryptedStored})},
        {"data-descriptor", fw::test::buildArchive({descriptor, raw("disk1/b", "b", 0)})},
        {"damaged-headers", fw::test::buildArchive({disagrees, badCrc, exact})},
        {"leading-bytes",
         fw::test::buildArchive({raw("disk1/a.txt", text(90), 8)}, std::string(54, 'B'))},
        {"no-items", fw::test::buildArchive({})},
        {"zip64-local-sizes", fw::test::buildArchive({zip64, zip64Stored, tooLarge})},
        {"zip64-end-record",
         fw::test::withZip64End(fw::test::buildArchive({raw("disk1/a", "a", 0), zip64}), 40)},
        {"utf8-names", fw::test::buildArchive({utf8, utf8Chinese, utf8Nowhere})},
    };
    for (const auto& [name, bytes] : built) {
        ok = writeBytes(out / (name + ".zip"), bytes) && ok;
    }
    return ok ? 0 : 1;
}
