// The packer: what it refuses (with a message, a failure status and nothing written),
// and the launcher it writes: the stub, then one payload resource of the 54-byte prefix
// and the archive, byte for byte, however often it is packed.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/ResourceTable.h"
#include "tests/support/Programs.h"
#include "tests/support/TempPrefix.h"
#include "tools/ZipWriter.h"

namespace fw::test {
namespace {

namespace fs = std::filesystem;

// The BMP file and information headers that head the shipped payload.
const unsigned char kBmpPrefix[54] = {
    'B', 'M', 0x46, 0x03, 0,    0,    0, 0, 0,  0, 0x76, 0, 0, 0,         // "BM", 838, 0, 0, 118
    40,  0,   0,    0,    96,   0,    0, 0, 15, 0, 0,    0, 1, 0, 4, 0,   // 40, 96, 15, 1, 4
    0,   0,   0,    0,    0xD0, 0x02, 0, 0,                               // 0, 720
    0,   0,   0,    0,    0,    0,    0, 0, 0,  0, 0,    0, 0, 0, 0, 0};  // 0, 0, 0, 0

zipwrite::Entry entry(std::string name, std::string data) {
    zipwrite::Entry e;
    e.name = std::move(name);
    e.data = std::move(data);
    return e;
}

class PackerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        stub = dir("stub");
        // Any file that holds the marker is a launcher to the packer.
        ASSERT_TRUE(writeHostFile(
            stub,
            "#!/bin/sh\nexit 0\n" FERROWICK_LAUNCHER_MARKER_HEAD FERROWICK_LAUNCHER_MARKER_TAIL
            "\n"));
        archive = dir("payload.zip");
        ASSERT_TRUE(zipwrite::writeArchive(
            archive, {entry("disk1/DATA.TAG", "tag"), entry("disk1/SETUP.EXE", "setup")}));
        other = dir("other.zip");
        ASSERT_TRUE(
            zipwrite::writeArchive(other, {entry("disk2/ONE.TXT", std::string(5000, 'x'))}));
    }

    std::string dir(const std::string& name) const { return prefix.root() + "/" + name; }

    ProgramRun pack(const std::vector<std::string>& options) const {
        std::vector<std::string> argv = {FERROWICK_PACK_PATH};
        argv.insert(argv.end(), options.begin(), options.end());
        return runProgram(argv);
    }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(prefix.root())) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::string resourceOf(const std::string& launcher) {
        const Resource r = posix::loadResourceFromFile(launcher, "#132", "TIMELISTINGS");
        return r.loaded ? std::string(reinterpret_cast<const char*>(r.data), r.size) : "<none>";
    }

    TempPrefix prefix;
    std::string stub;
    std::string archive;
    std::string other;
};

TEST_F(PackerTest, RefusesBadInputAndWritesNothing) {
    ASSERT_TRUE(writeHostFile(dir("not.zip"), "just some text, no archive at all\n"));
    std::string commented = readHostFile(archive);
    commented[commented.size() - 2] = 4;  // the end record's comment length
    commented += "note";
    ASSERT_TRUE(writeHostFile(dir("commented.zip"), commented));
    ASSERT_TRUE(writeHostFile(dir("cut.zip"), readHostFile(archive).substr(0, 40)));
    ASSERT_TRUE(writeHostFile(dir("short.bin"), std::string(53, 'p')));
    ASSERT_TRUE(writeHostFile(dir("long.bin"), std::string(55, 'p')));
    ASSERT_TRUE(writeHostFile(dir("plain"), "#!/bin/sh\necho I am no launcher\n"));
    // A marker that lies only in a carried payload does not make a launcher.
    ASSERT_TRUE(writeHostFile(
        dir("carrier"),
        withResources("#!/bin/sh\n",
                      {{"TIMELISTINGS", "#132",
                        FERROWICK_LAUNCHER_MARKER_HEAD FERROWICK_LAUNCHER_MARKER_TAIL}})));
    ASSERT_TRUE(writeHostFile(dir("out"), "the previous launcher"));
    const std::vector<std::string> before = entries();

    struct Case {
        const char* what;
        std::vector<std::string> options;
        std::string message;
    } cases[] = {
        {"payload not a ZIP", {"--payload", dir("not.zip")}, "not a ZIP archive"},
        {"payload with a comment", {"--payload", dir("commented.zip")}, "archive comment"},
        {"payload cut short", {"--payload", dir("cut.zip")}, "refused"},
        {"payload missing", {"--payload", dir("none.zip")}, "cannot read the payload"},
        {"payload a folder",
         {"--payload", prefix.root()},
         "payload " + prefix.root() + ": it is a folder"},
        {"stub a folder",
         {"--payload", archive, "--stub", prefix.root()},
         "stub " + prefix.root() + ": it is a folder"},
        {"prefix a folder", {"--payload", archive, "--prefix", prefix.root()}, "is a folder"},
        {"prefix of 53 bytes", {"--payload", archive, "--prefix", dir("short.bin")}, "exactly 54"},
        {"prefix of 55 bytes", {"--payload", archive, "--prefix", dir("long.bin")}, "exactly 54"},
        {"stub not a launcher", {"--payload", archive, "--stub", dir("plain")}, "not a launcher"},
        {"marker only in a payload",
         {"--payload", archive, "--stub", dir("carrier")},
         "not a launcher"},
        {"stub missing", {"--payload", archive, "--stub", dir("nothing")}, "cannot read the stub"},
        {"no output named", {"--payload", archive}, "required"},
        {"unknown option", {"--payload", archive, "--fast"}, "unknown option"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> options = c.options;
        if (std::string(c.what) != "no output named") {
            options.insert(options.end(), {"--output", dir("out")});
            if (std::find(options.begin(), options.end(), "--stub") == options.end()) {
                options.insert(options.end(), {"--stub", stub});
            }
        }
        const ProgramRun run = pack(options);
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(readHostFile(dir("out")), "the previous launcher");
        EXPECT_EQ(entries(), before);
    }
}

TEST_F(PackerTest, AppendsThePrefixAndTheArchiveToTheStub) {
    const ProgramRun run = pack({"--payload", archive, "--output", dir("out"), "--stub", stub});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string packed = readHostFile(dir("out"));
    const std::string stubBytes = readHostFile(stub);
    EXPECT_EQ(packed.substr(0, stubBytes.size()), stubBytes);

    const std::string expected =
        std::string(reinterpret_cast<const char*>(kBmpPrefix), 54) + readHostFile(archive);
    EXPECT_EQ(resourceOf(dir("out")), expected);
    // Mappable straight from the file: the resource starts on a 64 KiB boundary.
    EXPECT_EQ(packed.substr(posix::kResourceAlignment, expected.size()), expected);

    struct stat info {};
    ASSERT_EQ(stat(dir("out").c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IXUSR);
}

TEST_F(PackerTest, ReplacesAPayloadTheStubAlreadyCarries) {
    ASSERT_EQ(pack({"--payload", archive, "--output", dir("once"), "--stub", stub}).status, 0);
    ASSERT_TRUE(writeHostFile(dir("zeros.bin"), std::string(54, '\0')));
    const ProgramRun run = pack({"--payload", other, "--output", dir("twice"), "--stub",
                                 dir("once"), "--prefix", dir("zeros.bin")});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(pack({"--payload", other, "--output", dir("direct"), "--stub", stub, "--prefix",
                    dir("zeros.bin")})
                  .status,
              0);

    const std::string expected = std::string(54, '\0') + readHostFile(other);
    EXPECT_EQ(resourceOf(dir("twice")), expected);
    EXPECT_EQ(readHostFile(dir("twice")), readHostFile(dir("direct")));

    // Packing over the output in place works the same way.
    ASSERT_EQ(pack({"--payload", archive, "--output", dir("twice"), "--stub", dir("twice")}).status,
              0);
    EXPECT_EQ(readHostFile(dir("twice")), readHostFile(dir("once")));
}

TEST_F(PackerTest, TakesTheLauncherBesideItselfByDefault) {
    fs::create_directory(dir("bin"));
    fs::copy_file(FERROWICK_PACK_PATH, dir("bin/ferrowick-pack"));
    fs::permissions(dir("bin/ferrowick-pack"), fs::perms::owner_all);
    fs::copy_file(stub, dir("bin/ferrowick"));
    const ProgramRun run =
        runProgram({dir("bin/ferrowick-pack"), "--payload", archive, "--output", dir("out")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readHostFile(dir("out")).substr(0, readHostFile(stub).size()), readHostFile(stub));
}

}  // namespace
}  // namespace fw::test
