// The packer: what it refuses (with a message, a failure status and nothing written),
// and the launcher it writes: the stub, then one payload resource of the 54-byte prefix
// and the archive, byte for byte, however often it is packed.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pack/ZipWriter.h"
#include "platform/LittleEndian.h"
#include "platform/posix/ResourceTable.h"
#include "tests/support/Programs.h"
#include "tests/support/RawZip.h"
#include "tests/support/TempPrefix.h"

namespace fw::test {
namespace {

namespace fs = std::filesystem;

// The BMP file and information headers that head the shipped payload.
const unsigned char kBmpPrefix[54] = {
    'B', 'M', 0x46, 0x03, 0,    0,    0, 0, 0,  0, 0x76, 0, 0, 0,         // "BM", 838, 0, 0, 118
    40,  0,   0,    0,    96,   0,    0, 0, 15, 0, 0,    0, 1, 0, 4, 0,   // 40, 96, 15, 1, 4
    0,   0,   0,    0,    0xD0, 0x02, 0, 0,                               // 0, 720
    0,   0,   0,    0,    0,    0,    0, 0, 0,  0, 0,    0, 0, 0, 0, 0};  // 0, 0, 0, 0

RawEntry raw(std::string name, std::string content, void (*tweak)(RawEntry&) = nullptr) {
    RawEntry e;
    e.name = std::move(name);
    e.content = std::move(content);
    if (tweak != nullptr) {
        tweak(e);
    }
    return e;
}

// An icon file of one 16 by 16 image in 32 bits.
std::string smallIcon() {
    std::string image = little(40, 4) + little(16, 4) + little(32, 4) + little(1, 2) +
                        little(32, 2) + std::string(24, '\0');
    image += std::string(16 * 16 * 4, '\x55') + std::string(16 * 4, '\0');
    return little(0, 2) + little(1, 2) + little(1, 2) + std::string("\x10\x10\0\0", 4) +
           little(1, 2) + little(32, 2) + little(image.size(), 4) + little(22, 4) + image;
}

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
        // Any ELF file that holds the marker is a Linux launcher to the packer.
        ASSERT_TRUE(writeHostFile(
            stub,
            "\x7F"
            "ELF\n" FERROWICK_LAUNCHER_MARKER_HEAD FERROWICK_LAUNCHER_MARKER_TAIL "\n"));
        archive = dir("payload.zip");
        ASSERT_TRUE(zipwrite::writeArchive(
            archive, {entry("disk1/DATA.TAG", "tag"), entry("disk1/SETUP.EXE", "setup")}));
        other = dir("other.zip");
        ASSERT_TRUE(zipwrite::writeArchive(
            other, {entry("disk2/ONE.TXT", std::string(5000, 'x')), entry("disk2/SETUP.EXE", "")}));
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
    ASSERT_TRUE(writeHostFile(dir("plain"),
                              "\x7F"
                              "ELF, but no launcher\n"));
    ASSERT_TRUE(writeHostFile(
        dir("script"),
        "#!/bin/sh\n" FERROWICK_LAUNCHER_MARKER_HEAD FERROWICK_LAUNCHER_MARKER_TAIL "\n"));
    // A marker that lies only in a carried payload does not make a launcher.
    ASSERT_TRUE(writeHostFile(
        dir("carrier"),
        withResources("\x7F"
                      "ELF\n",
                      {{"TIMELISTINGS", "#132",
                        FERROWICK_LAUNCHER_MARKER_HEAD FERROWICK_LAUNCHER_MARKER_TAIL}})));
    ASSERT_TRUE(writeHostFile(dir("out"), "the previous launcher"));
    ASSERT_TRUE(writeHostFile(dir("Set/\xE4\xB8\xAD/a.txt"), "a"));  // a Chinese character
    ASSERT_TRUE(writeHostFile(dir("Linked/SETUP.EXE"), "setup"));
    fs::create_symlink(archive, dir("Linked/payload.zip"));

    ASSERT_TRUE(writeHostFile(dir("sound.ico"), smallIcon()));
    std::string cut = smallIcon();
    cut.resize(cut.size() - 1);
    ASSERT_TRUE(writeHostFile(dir("cut.ico"), cut));
    const std::vector<std::string> before = entries();

    struct Case {
        const char* what;
        std::vector<std::string> options;
        std::string message;
        bool oneLine = false;  // the message alone, without the usage
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
        {"stub neither PE nor ELF",
         {"--payload", archive, "--stub", dir("script")},
         "neither a Windows launcher (PE) nor a Linux launcher (ELF)"},
        {"signing a Linux launcher",
         {"--payload", archive, "--sign-cert", archive, "--sign-key", archive},
         "only a Windows launcher is signed"},
        {"password on the command line",
         {"--payload", archive, "--sign-pkcs12", archive, "--sign-password", "x"},
         "never taken from the command line"},
        {"key without certificate", {"--payload", archive, "--sign-key", archive}, "go together"},
        {"marker only in a payload",
         {"--payload", archive, "--stub", dir("carrier")},
         "not a launcher"},
        {"stub missing", {"--payload", archive, "--stub", dir("nothing")}, "cannot read the stub"},
        {"no output named", {"--payload", archive}, "required"},
        {"unknown option", {"--payload", archive, "--fast"}, "unknown option"},
        {"folder missing", {"--folder", dir("none")}, "is not a folder"},
        {"folder name outside the code page",
         {"--folder", dir("Set"), "--code-page", "1252"},
         "problem: item 1 \"Set/\xE4\xB8\xAD/\": its name cannot be expressed in code page 1252"},
        {"link in the folder", {"--folder", dir("Linked")}, "neither a folder nor a regular file"},
        {"code page unknown", {"--payload", archive, "--code-page", "65001"}, "65001 is not one"},
        {"two payloads", {"--payload", archive, "--folder", dir("Set")}, "give one of"},
        {"launcher to check without --check", {"--launcher", stub}, "give --check with it"},
        {"icon that is no icon",
         {"--payload", archive, "--icon", archive},
         "the icon " + archive + " is refused: it is no icon file",
         true},
        {"icon cut short",
         {"--payload", archive, "--icon", dir("cut.ico")},
         "the icon " + dir("cut.ico") + " is refused: its image 1 lies outside the file",
         true},
        {"icon missing",
         {"--payload", archive, "--icon", dir("none.ico")},
         "cannot read the icon",
         true},
        {"unknown version key",
         {"--payload", archive, "--version", "Comments=none"},
         "unknown version key \"Comments\" in --version Comments=none (give one of ProductName, "
         "CompanyName, FileDescription, FileVersion, ProductVersion, LegalCopyright, "
         "OriginalFilename)",
         true},
        {"version key without a value",
         {"--payload", archive, "--version", "ProductName"},
         "--version ProductName has no value (give ProductName=VALUE)",
         true},
        {"file version that is no version",
         {"--payload", archive, "--version", "FileVersion=2.1.0.7.1"},
         "FileVersion \"2.1.0.7.1\" is not a version",
         true},
        {"version text that is no UTF-8",
         {"--payload", archive, "--version", "CompanyName=Caf\xE9"},
         "the version string CompanyName is no UTF-8 text",
         true},
        {"icon and version for a Linux launcher",
         {"--payload", archive, "--icon", dir("sound.ico"), "--version", "ProductName=Orvelin"},
         "only a Windows launcher carries an icon and version information",
         true},
        {"icon with --check",
         {"--check", "--payload", archive, "--icon", dir("sound.ico")},
         "--check writes nothing: leave out --output, --prefix, --icon, --version"},
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
        if (c.oneLine) {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        }
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

    EXPECT_EQ(run.out,
              "wrote " + dir("out") + ": a Linux launcher (ELF) carrying 2 items in a payload of " +
                  std::to_string(readHostFile(archive).size()) + " bytes; signature: none\n");

    // The launcher's payload is checked as the archive it was packed from, read from
    // the table the Linux launcher reads.
    const ProgramRun fromArchive = pack({"--check", "--payload", archive});
    const ProgramRun fromLauncher = pack({"--check", "--launcher", dir("out")});
    EXPECT_EQ(fromLauncher.status, 0) << fromLauncher.err;
    EXPECT_EQ(fromLauncher.out,
              "launcher: Linux (ELF)\n"
              "payload: resource table TIMELISTINGS/#132 appended to the ELF\n"
              "signature: none\n" +
                  fromArchive.out);
    EXPECT_NE(fromLauncher.out.find("items: 2, 8 bytes unpacked\n"), std::string::npos);
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

// Every name of a folder that the code page cannot express is a problem of its own item;
// the check goes on past each, and packing takes them only by force.
TEST_F(PackerTest, ChecksEveryFolderNameTheCodePageCannotExpress) {
    ASSERT_TRUE(writeHostFile(dir("Set/SETUP.EXE"), "setup"));
    ASSERT_TRUE(writeHostFile(dir("Set/caf\xC3\xA9.txt"), "cafe"));  // no e acute in 1253
    ASSERT_TRUE(writeHostFile(dir("Set/na\xC3\xAFve/x.txt"), "x"));
    ASSERT_TRUE(writeHostFile(dir("Set/plain.txt"), "plain"));
    const ProgramRun run = pack({"--check", "--folder", dir("Set"), "--code-page", "1253"});
    EXPECT_EQ(run.status, 1) << run.err;
    const std::string problems =
        "problems: 3\n"
        "problem: item 2 \"Set/caf\xC3\xA9.txt\": its name cannot be expressed in code page "
        "1253\n"
        "problem: item 3 \"Set/na\xC3\xAFve/\": its name cannot be expressed in code page 1253\n"
        "problem: item 4 \"Set/na\xC3\xAFve/x.txt\": its name cannot be expressed in code page "
        "1253\n";
    EXPECT_NE(run.out.find("items: 6, "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(problems), std::string::npos) << run.out;
    EXPECT_EQ(pack({"--folder", dir("Set"), "--code-page", "1253", "--stub", stub, "--output",
                    dir("out")})
                  .status,
              1);
    EXPECT_EQ(pack({"--folder", dir("Set"), "--code-page", "1253", "--stub", stub, "--output",
                    dir("out"), "--force"})
                  .status,
              0);
}

// --check: the plan of a clean payload, and each problem the launcher would meet as one
// line naming its item, with exit status 1; packing refuses the same unless --force.
TEST_F(PackerTest, ChecksAPayloadAsTheLauncherWillReadIt) {
    const RawEntry setup = raw("disk1/SETUP.EXE", "setup");
    const RawEntry tag = raw("disk1/DATA.TAG", "tag");
    std::vector<RawEntry> many = {setup};
    for (int i = 1; i <= 600; ++i) {
        many.push_back(raw("disk1/d/" + std::to_string(i), "x"));
    }
    const std::string plan =
        "code page: 1252\n"
        "top folder: \"disk1\", SETUP.exe in it\n"
        "patience notice: not shown (600 items or fewer)\n"
        "launch command: C:/Temp/_Download/_UnZip/disk1/SETUP.exe\n";
    struct Case {
        Case(const char* w, std::vector<RawEntry> e, std::string p, std::string cp = "1252",
             std::string o = "")
            : what(w),
              entries(std::move(e)),
              problem(std::move(p)),
              codePage(std::move(cp)),
              out(std::move(o)) {}
        const char* what;
        std::vector<RawEntry> entries;
        std::string problem;  // the one problem line; empty for a clean payload
        std::string codePage;
        std::string out;  // the whole output, when it is checked
    } cases[] = {
        {"clean",
         {setup, tag},
         "",
         "1252",
         "items: 2, 8 bytes unpacked\n" + plan + "problems: none\n"},
        {"601 items", many, "", "1252",
         "items: 601, 605 bytes unpacked\ncode page: 1252\ntop folder: \"disk1\", SETUP.exe in it\n"
         "patience notice: shown before item 600\n"
         "launch command: C:/Temp/_Download/_UnZip/disk1/SETUP.exe\nproblems: none\n"},
        {"no SETUP.exe",
         {tag},
         "the top folder \"disk1\" has no SETUP.exe: the launcher would run a command that is "
         "not found (add it, or pack anyway with --force)",
         "1252",
         "items: 1, 3 bytes unpacked\ncode page: 1252\ntop folder: \"disk1\", SETUP.exe NOT in it\n"
         "patience notice: not shown (600 items or fewer)\n"
         "launch command: C:/Temp/_Download/_UnZip/disk1/SETUP.exe\nproblems: 1\n"
         "problem: the top folder \"disk1\" has no SETUP.exe: the launcher would run a command "
         "that is not found (add it, or pack anyway with --force)\n"},
        // The first item with a folder names the top folder, whatever follows.
        {"SETUP.exe in another top folder",
         {tag, raw("disk2/SETUP.EXE", "s")},
         "the top folder \"disk1\" has no SETUP.exe: the launcher would run a command that is "
         "not found (add it, or pack anyway with --force)"},
        {"a flat set, SETUP.exe at the top in another letter case",
         {raw("readme.txt", "r"), raw("Setup.Exe", "s")},
         "",
         "1252",
         "items: 2, 2 bytes unpacked\ncode page: 1252\n"
         "top folder: none (no item name has a folder), SETUP.exe in it\n"
         "patience notice: not shown (600 items or fewer)\n"
         "launch command: C:/Temp/_Download/_UnZip/SETUP.exe\nproblems: none\n"},
        {"no folder and no SETUP.exe at the top",
         {raw("readme.txt", "r")},
         "no item name has a folder, and no SETUP.exe lies at the top: the launcher would run a "
         "command that is not found (add it, or pack anyway with --force)"},
        {"climbing name",
         {setup, raw("disk1/../x.txt", "x")},
         "item 1 \"disk1/../x.txt\": it is unpacked as \"x.txt\": its \"..\" steps are dropped, "
         "which would climb out of the unpack folder"},
        {"drive in a name",
         {setup, raw("C:/disk1/a.txt", "a")},
         "item 1 \"C:/disk1/a.txt\": it is unpacked as \"disk1/a.txt\": its drive is dropped"},
        {"long path",
         {setup, raw("disk1/" + std::string(230, 'a') + ".txt", "a")},
         "item 1 \"disk1/" + std::string(230, 'a') +
             ".txt\": its path is over 259 characters (265)"},
        {"bytes no character of 936",
         {setup, raw("disk1/\x81.txt", "a")},
         "item 1 \"disk1/\\x81.txt\": its name cannot be expressed in code page 936",
         "936"},
        {"UTF-8 name outside 1252",
         {setup, raw("disk1/\xE4\xB8\xAD.txt", "a", [](RawEntry& e) { e.flags = 0x800; })},
         "item 1 \"disk1/\xE4\xB8\xAD.txt\": its name cannot be expressed in code page 1252"},
        {"names equal but for case",
         {setup, raw("disk1/setup.exe", "b")},
         "item 1 \"disk1/setup.exe\": it collides with \"disk1/SETUP.EXE\" when letter case "
         "is ignored"},
        {"the same name twice",
         {setup, raw("disk1/SETUP.EXE", "again")},
         "item 1 \"disk1/SETUP.EXE\": it is in the archive twice: the later one replaces the "
         "earlier"},
        {"encrypted",
         {setup, raw("disk1/secret", "s", [](RawEntry& e) { e.encrypt = true; })},
         "item 1 \"disk1/secret\": it is encrypted (pack it without a password)"},
        {"method 12",
         {setup, raw("disk1/b.bz2", "b", [](RawEntry& e) { e.method = 12; })},
         "item 1 \"disk1/b.bz2\": its method 12 is not supported (only stored and deflated items "
         "are)"},
        {"the staging archive's name",
         {setup, raw("MORVANTA.zip", "PK")},
         "item 1 \"MORVANTA.zip\": it would be unpacked over the staging archive it is read from "
         "(rename it)"},
        {"wrong CRC-32",
         {setup, raw("disk1/bad", "bad", [](RawEntry& e) { e.crc = 1; })},
         "item 1 \"disk1/bad\": it is damaged: its data does not inflate to its size and CRC-32"},
        {"local header disagreeing",
         {setup, raw("disk1/bad", "bad", [](RawEntry& e) { e.localCrc = 1; })},
         "item 1 \"disk1/bad\": it is damaged: its local header disagrees with its entry in "
         "the archive"},
        {"4 GiB or more",
         {setup, raw("disk1/huge", "h", [](RawEntry& e) { e.zip64CentralSize = 5ull << 30; })},
         "item 1 \"disk1/huge\": it is too large (4 GiB or more)"},
        {"top folder unsafe on a command line",
         {raw("a%b/SETUP.EXE", "s")},
         "the top folder \"a%b\" cannot be put on a command line safely: the launcher launches "
         "nothing (rename it)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(writeHostFile(dir("check.zip"), buildArchive(c.entries)));
        const ProgramRun run =
            pack({"--check", "--payload", dir("check.zip"), "--code-page", c.codePage});
        EXPECT_EQ(run.status, c.problem.empty() ? 0 : 1) << run.out << run.err;
        if (!c.out.empty()) {
            EXPECT_EQ(run.out, c.out);
        }
        if (!c.problem.empty()) {
            EXPECT_NE(run.out.find("\nproblems: 1\nproblem: " + c.problem + "\n"),
                      std::string::npos)
                << run.out;
            // Packed only by force.
            const std::vector<std::string> packing = {"--payload", dir("check.zip"), "--stub",
                                                      stub,        "--code-page",    c.codePage,
                                                      "--output",  dir("forced")};
            const ProgramRun refused = pack(packing);
            EXPECT_EQ(refused.status, 1);
            EXPECT_NE(refused.err.find("ferrowick-pack: problem: " + c.problem + "\n"),
                      std::string::npos)
                << refused.err;
            EXPECT_NE(refused.err.find("--force)"), std::string::npos) << refused.err;
            EXPECT_FALSE(fs::exists(dir("forced")));
            std::vector<std::string> forced = packing;
            forced.push_back("--force");
            EXPECT_EQ(pack(forced).status, 0);
            fs::remove(dir("forced"));
        }
    }
}

}  // namespace
}  // namespace fw::test
