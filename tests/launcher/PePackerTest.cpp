// Windows launchers packed on Linux: the payload resource replaced where Windows loads
// it, every other resource and the sections after the resources kept byte for byte, the
// checksum right, a stub's signature dropped, and signing through osslsigncode. The
// stubs come from the Windows launcher as built (build-mingw, or the file named by
// FERROWICK_WINDOWS_LAUNCHER); refusals and the image limit's arithmetic need none.
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "res/resource.h"
#include "tests/support/Programs.h"
#include "tests/support/TempPrefix.h"
#include "tools/PePayload.h"
#include "tools/ResourceTree.h"
#include "tools/ZipWriter.h"

namespace fw::test {
namespace {

namespace fs = std::filesystem;

// Debian's python, for which python3-pefile is installed.
constexpr const char* kDebianPython = "/usr/bin/python3";

std::string windowsLauncher() {
    const char* named = std::getenv("FERROWICK_WINDOWS_LAUNCHER");
    return named != nullptr && *named ? named : FERROWICK_WINDOWS_LAUNCHER_DEFAULT;
}

pe::ReadAt readerOf(const std::string& bytes) {
    return [&bytes](void* buffer, std::size_t size, uint64_t offset) {
        if (offset > bytes.size() || size > bytes.size() - offset) {
            return false;
        }
        bytes.copy(static_cast<char*>(buffer), size, static_cast<std::size_t>(offset));
        return true;
    };
}

// Every resource but the payload, read with the packer's own reader: "type/name/language"
// to its bytes.
std::map<std::string, std::string> otherResources(const std::string& bytes) {
    std::map<std::string, std::string> found;
    pe::Image image;
    EXPECT_EQ(pe::readImage(readerOf(bytes), bytes.size(), image), "");
    const int rsrc = pe::sectionOf(image, image.directories.at(pe::kResourceDirectory).address);
    pe::ResourceDirectory root;
    EXPECT_EQ(pe::readResourceTree(readerOf(bytes), image, static_cast<std::size_t>(rsrc), root),
              "");
    auto keyText = [](const pe::ResourceKey& k) {
        return k.named() ? std::string(k.text.begin(), k.text.end()) : std::to_string(k.id);
    };
    for (const pe::ResourceEntry& type : root.entries) {
        for (const pe::ResourceEntry& name : type.directory->entries) {
            for (const pe::ResourceEntry& language : name.directory->entries) {
                const std::string key =
                    keyText(type.key) + "/" + keyText(name.key) + "/" + keyText(language.key);
                if (key != "TIMELISTINGS/132/1033") {
                    found[key] = bytes.substr(language.data.fileOffset, language.data.size);
                }
            }
        }
    }
    return found;
}

// The checksum field against the sum of the file without it.
bool checksumRight(std::string bytes) {
    pe::Image image;
    if (!pe::readImage(readerOf(bytes), bytes.size(), image).empty()) {
        return false;
    }
    bytes.replace(pe::checkSumOffset(image), 4, 4, '\0');
    pe::Checksum sum;
    sum.add(bytes.data(), bytes.size());
    return image.checkSum == sum.value(bytes.size()) && image.checkSum != 0;
}

class PePackerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        archive = dir("set.zip");
        zipwrite::Entry setup;
        setup.name = "Orvelin/SETUP.EXE";
        setup.data = std::string(3000, 's');
        zipwrite::Entry help;
        help.name = "Orvelin/Help/readme.txt";
        help.data = "read me";
        ASSERT_TRUE(zipwrite::writeArchive(archive, {setup, help}));
    }

    std::string dir(const std::string& name) const { return prefix.root() + "/" + name; }

    static ProgramRun pack(const std::vector<std::string>& options) {
        std::vector<std::string> argv = {FERROWICK_PACK_PATH};
        argv.insert(argv.end(), options.begin(), options.end());
        return runProgram(argv);
    }

    // A throw-away self-signed code-signing certificate and its key.
    void makeCertificate() {
        const ProgramRun made =
            runProgram({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                        "-keyout", dir("key.pem"), "-out", dir("cert.pem"), "-days", "2", "-subj",
                        "/CN=Ferrowick Test Signer", "-addext", "extendedKeyUsage=codeSigning"});
        ASSERT_EQ(made.status, 0) << made.err;
    }

    TempPrefix prefix;
    std::string archive;
};

TEST_F(PePackerTest, ReplacesThePayloadOfEachStub) {
    const std::string built = windowsLauncher();
    if (!fs::exists(built)) {
        GTEST_SKIP() << "no Windows launcher at " << built << " (cmake --preset mingw)";
    }
    makeCertificate();
    fs::copy_file(built, dir("built.exe"));
    ASSERT_EQ(runProgram({kDebianPython, FERROWICK_PE_TOOL, "add-section", dir("built.exe"),
                          dir("after.exe"), ".fwnote", "discardable"})
                  .status,
              0);
    // What the Linux packer used to make of a Windows stub: a table Windows never reads.
    ASSERT_TRUE(writeHostFile(dir("appended.exe"),
                              withResources(readHostFile(built), {{"TIMELISTINGS", "#132", "x"}})));
    ASSERT_EQ(
        runProgram({"/usr/bin/osslsigncode", "sign", "-h", "sha256", "-certs", dir("cert.pem"),
                    "-key", dir("key.pem"), "-in", dir("built.exe"), "-out", dir("signed.exe")})
            .status,
        0);
    struct Case {
        const char* what;
        std::string stub;
        bool wasSigned;
        bool judgedByPefile;  // Debian's pefile judges it too
    } cases[] = {
        // Relocations and debug sections after the resources, a symbol table after them.
        {"the launcher as built", dir("built.exe"), false, false},
        {"a section added after the last", dir("after.exe"), false, true},
        {"signed", dir("signed.exe"), true, false},
        {"with a payload table appended", dir("appended.exe"), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProgramRun run =
            pack({"--payload", archive, "--stub", c.stub, "--output", dir("out.exe")});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("a Windows launcher (PE) carrying 2 items"), std::string::npos)
            << run.out;
        EXPECT_EQ(run.err.find("its signature is dropped") != std::string::npos, c.wasSigned)
            << run.err;

        const std::string stub = readHostFile(c.stub);
        const std::string out = readHostFile(dir("out.exe"));
        pe::PayloadPlace place;
        ASSERT_EQ(pe::findPayload(readerOf(out), out.size(), place), "");
        EXPECT_EQ(out.substr(place.fileOffset + 54, place.size - 54), readHostFile(archive));
        EXPECT_EQ(otherResources(out), otherResources(stub));
        EXPECT_FALSE(otherResources(out).empty());
        EXPECT_TRUE(checksumRight(out));
        pe::Image image;
        ASSERT_EQ(pe::readImage(readerOf(out), out.size(), image), "");
        EXPECT_EQ(image.directories[pe::kCertificateDirectory].size, 0u);

        const ProgramRun check = pack({"--check", "--launcher", dir("out.exe")});
        EXPECT_EQ(check.status, 0) << check.out << check.err;
        EXPECT_EQ(check.out.substr(0, check.out.find("\nimage: ")),
                  "launcher: Windows (PE)\npayload: PE resource TIMELISTINGS/#132\n"
                  "signature: none");
        // Packed again, it carries the new payload as if packed from the stub.
        ASSERT_EQ(
            pack({"--payload", archive, "--stub", dir("out.exe"), "--output", dir("again.exe")})
                .status,
            0);
        EXPECT_EQ(readHostFile(dir("again.exe")), out);
        if (std::string(c.what) != "signed") {
            ASSERT_EQ(pack({"--payload", archive, "--stub", dir("built.exe"), "--output",
                            dir("direct.exe")})
                          .status,
                      0);
            EXPECT_EQ(out == readHostFile(dir("direct.exe")), c.stub != dir("after.exe"));
        }
        if (c.judgedByPefile) {
            const ProgramRun judged = runProgram(
                {kDebianPython, FERROWICK_PE_TOOL, "judge", c.stub, dir("out.exe"), archive});
            EXPECT_EQ(judged.status, 0) << judged.out << judged.err;
        }
    }

    // The check reads such a launcher's resource, and names the table as a problem.
    const ProgramRun appended = pack({"--check", "--launcher", dir("appended.exe")});
    EXPECT_EQ(appended.status, 1);
    EXPECT_NE(appended.out.find("problem: it also carries a payload table appended for a Linux "
                                "launcher, which Windows never reads"),
              std::string::npos)
        << appended.out;

    // Signed on the way, and osslsigncode agrees with the check.
    const ProgramRun signedRun =
        pack({"--payload", archive, "--stub", dir("signed.exe"), "--output", dir("new.exe"),
              "--sign-cert", dir("cert.pem"), "--sign-key", dir("key.pem")});
    ASSERT_EQ(signedRun.status, 0) << signedRun.err;
    const std::string valid = "signature: valid (subject CN=Ferrowick Test Signer";
    EXPECT_NE(signedRun.out.find(valid), std::string::npos) << signedRun.out;
    EXPECT_NE(pack({"--check", "--launcher", dir("new.exe")}).out.find(valid), std::string::npos);
    EXPECT_EQ(runProgram({"/usr/bin/osslsigncode", "verify", "-CAfile", dir("cert.pem"), "-in",
                          dir("new.exe")})
                  .status,
              0);
    // Any byte changed after signing breaks it, and the check says so.
    std::string changed = readHostFile(dir("new.exe"));
    changed[changed.size() / 2] = static_cast<char>(changed[changed.size() / 2] ^ 1);
    ASSERT_TRUE(writeHostFile(dir("changed.exe"), changed));
    const ProgramRun broken = pack({"--check", "--launcher", dir("changed.exe")});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.out.find("signature: broken (its digest does not match the file"),
              std::string::npos)
        << broken.out;
}

// A minimal 64-bit image with one code section holding the launcher marker.
std::string minimalImage() {
    std::string b(0x400, '\0');
    b.replace(0, 2, "MZ");
    b[0x3C] = 0x40;
    b.replace(0x40, 4, std::string("PE\0\0", 4));
    auto put = [&b](std::size_t at, uint64_t v, int width) { pe::setLe(b, at, v, width); };
    put(0x44, 0x8664, 2);  // machine
    put(0x46, 1, 2);       // sections
    put(0x54, 240, 2);     // optional header size
    put(0x56, 0x22, 2);
    const std::size_t o = 0x58;
    put(o, 0x20B, 2);
    put(o + 24, 0x140000000, 8);
    put(o + 32, 0x1000, 4);
    put(o + 36, 0x200, 4);
    put(o + 56, 0x2000, 4);  // SizeOfImage
    put(o + 60, 0x200, 4);   // SizeOfHeaders
    put(o + 108, 16, 4);
    const std::size_t s = o + 240;
    b.replace(s, 5, ".text");
    put(s + 8, 0x100, 4);
    put(s + 12, 0x1000, 4);
    put(s + 16, 0x200, 4);
    put(s + 20, 0x200, 4);
    put(s + 36, 0x60000020, 4);
    const std::string marker = FERROWICK_LAUNCHER_MARKER_HEAD FERROWICK_LAUNCHER_MARKER_TAIL;
    b.replace(0x210, marker.size(), marker);
    return b;
}

TEST_F(PePackerTest, RefusesStubsItCannotPack) {
    ASSERT_TRUE(writeHostFile(dir("bare.exe"), minimalImage()));
    ASSERT_TRUE(writeHostFile(dir("cut.exe"), minimalImage().substr(0, 0x300)));
    std::string notPe = minimalImage();
    notPe[0x40] = 'X';
    ASSERT_TRUE(writeHostFile(dir("mz-only.exe"), notPe));
    struct Case {
        const char* what;
        std::string stub;
        std::string message;
        int checkStatus;  // of --check --launcher on the stub itself
    } cases[] = {
        {"a PE without a resource section", dir("bare.exe"), "it has no resource section", 1},
        {"a truncated PE", dir("cut.exe"),
         "it is cut short: its section \".text\" ends at byte 1024, the file at byte 768", 1},
        {"MZ without PE", dir("mz-only.exe"),
         "neither a Windows launcher (PE) nor a Linux launcher (ELF)", 1},
        // Windows loads it, but moving that section could break its code.
        {"a writable section after the resources", dir("writable.exe"),
         "its section \".fwdata\" follows the resources and cannot be moved", 0},
    };
    const bool built = fs::exists(windowsLauncher()) &&
                       runProgram({kDebianPython, FERROWICK_PE_TOOL, "add-section",
                                   windowsLauncher(), dir("writable.exe"), ".fwdata", "writable"})
                               .status == 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!fs::exists(c.stub)) {
            EXPECT_FALSE(built);
            continue;
        }
        const ProgramRun run =
            pack({"--payload", archive, "--stub", c.stub, "--output", dir("out.exe")});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(dir("out.exe")));
        EXPECT_EQ(pack({"--check", "--launcher", c.stub}).status, c.checkStatus);
    }
}

// Windows maps no image of 2 GiB or more, and a 32-bit one (or one not marked large-
// address aware) must fit below 2 GiB less the 64 KiB guards at both ends.
TEST(PeImageLimit, FollowsFromTheHeaders) {
    struct Case {
        const char* what;
        bool plus;
        uint16_t characteristics;
        uint64_t base;
        uint64_t largest;
    } cases[] = {
        {"64-bit, large-address aware", true, 0x22, 0x140000000, 0x80000000},
        {"64-bit, not large-address aware", true, 0x02, 0x140000000, 0x7FFE0000},
        {"32-bit, relocatable", false, 0x102, 0x400000, 0x7FFE0000},
        {"32-bit, fixed at its base", false, 0x103, 0x400000, 0x7FBF0000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        pe::Image image;
        image.plus = c.plus;
        image.characteristics = c.characteristics;
        image.imageBase = c.base;
        image.sectionAlignment = 0x1000;
        EXPECT_EQ(pe::largestImageSize(image), c.largest);
    }

    // The launcher as built: the largest payload fills its image to the last byte of
    // 2 GiB, one byte more takes another page, and packing refuses it before reading it.
    const std::string built = windowsLauncher();
    if (!fs::exists(built)) {
        GTEST_SKIP() << "no Windows launcher at " << built;
    }
    const std::string stub = readHostFile(built);
    uint64_t largest = 0;
    uint64_t limit = 0;
    ASSERT_EQ(pe::largestPayload(readerOf(stub), stub.size(), 54, largest, limit), "");
    EXPECT_EQ(limit, 0x80000000u);
    uint64_t size = 0;
    ASSERT_EQ(pe::imageSizeFor(readerOf(stub), stub.size(), 54 + largest, size), "");
    EXPECT_EQ(size, 0x80000000u);
    ASSERT_EQ(pe::imageSizeFor(readerOf(stub), stub.size(), 54 + largest + 1, size), "");
    EXPECT_EQ(size, 0x80000000u + 0x1000);
    pe::NewPayload tooLarge;
    tooLarge.prefix = std::string(54, 'p');
    tooLarge.size = largest + 1;
    tooLarge.read = [](void*, std::size_t, uint64_t) {
        ADD_FAILURE() << "a payload too large was read";
        return false;
    };
    pe::Output nowhere;
    nowhere.append = [](const void*, std::size_t) { return false; };
    nowhere.writeAt = [](const void*, std::size_t, uint64_t) { return false; };
    pe::Written written;
    EXPECT_EQ(pe::writeWithPayload(readerOf(stub), stub.size(), tooLarge, nowhere, written),
              "the payload of " + std::to_string(largest + 1) +
                  " bytes would make the launcher's image larger than the 2147483648 bytes "
                  "Windows loads (SizeOfImage); with this stub the payload may have at most " +
                  std::to_string(largest) + " bytes");
}

}  // namespace
}  // namespace fw::test
