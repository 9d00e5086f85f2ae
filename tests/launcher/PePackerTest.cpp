// Windows launchers packed on Linux: the payload resource replaced where Windows loads
// it, every other resource and the sections after the resources kept byte for byte and
// aligned, SizeOfImage and the checksum right, a stub's signature dropped, signing, and
// the state of a signature told as it is. Every test runs on images the test makes
// itself; the Windows launcher as built (build-mingw, or the file named by
// FERROWICK_WINDOWS_LAUNCHER) is packed and judged as well when it is there.
#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "pack/Pkcs7Signature.h"
#include "pack/ZipWriter.h"
#include "pe/PePayload.h"
#include "pe/ResourceTree.h"
#include "platform/LittleEndian.h"
#include "res/resource.h"
#include "tests/pe/TestImages.h"
#include "tests/support/Noise.h"
#include "tests/support/Programs.h"
#include "tests/support/TempPrefix.h"

namespace fw::test {
namespace {

namespace fs = std::filesystem;

// Debian's python, for which python3-pefile is installed.
constexpr const char* kDebianPython = "/usr/bin/python3";
// osslsigncode as PATH finds it, as the packer finds it.
constexpr const char* kEnv = "/usr/bin/env";

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

// The line of `text` that starts with `start`, without its line end; empty when none does.
std::string lineStarting(const std::string& text, const std::string& start) {
    const std::size_t at = text.rfind(start, 0) == 0 ? 0 : text.find("\n" + start);
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t from = at == 0 ? 0 : at + 1;
    return text.substr(from, text.find('\n', from) - from);
}

class PePackerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        archive = dir("set.zip");
        // Data that does not compress: the minimal image's resources grow by pages, and
        // the sections after them move.
        zipwrite::Entry setup;
        setup.name = "Orvelin/SETUP.EXE";
        setup.data = noise(9000);
        zipwrite::Entry help;
        help.name = "Orvelin/Help/readme.txt";
        help.data = "read me";
        ASSERT_TRUE(zipwrite::writeArchive(archive, {setup, help}));
        ASSERT_TRUE(writeHostFile(dir("minimal.exe"), imageWithResources()));
        // An icon file of one image.
        std::string image = little(40, 4) + little(16, 4) + little(32, 4) + little(1, 2) +
                            little(4, 2) + std::string(24, '\0') + std::string(64 + 128 + 64, 'i');
        ASSERT_TRUE(writeHostFile(
            dir("minimal-icon.ico"),
            little(0, 2) + little(1, 2) + little(1, 2) + std::string("\x10\x10\x10\0", 4) +
                little(1, 2) + little(4, 2) + little(image.size(), 4) + little(22, 4) + image));
    }

    std::string dir(const std::string& name) const { return prefix.root() + "/" + name; }

    static ProgramRun pack(const std::vector<std::string>& options,
                           const std::vector<std::string>& environment = {}) {
        std::vector<std::string> argv = {FERROWICK_PACK_PATH};
        argv.insert(argv.end(), options.begin(), options.end());
        return runProgram(argv, environment);
    }

    // A throw-away code-signing certificate `name`.pem and its key `name`-key.pem: self-
    // signed, or issued by the certificate `issuer` (an authority made the same way).
    void makeCertificate(const std::string& name, const std::string& subject,
                         const std::string& issuer = "", bool authority = false) {
        const std::string cert = dir(name + ".pem");
        const std::string key = dir(name + "-key.pem");
        ProgramRun made;
        if (issuer.empty()) {
            made = runProgram(
                {"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                 key, "-out", cert, "-days", "2", "-subj", subject, "-addext",
                 authority ? "basicConstraints=critical,CA:TRUE" : "extendedKeyUsage=codeSigning"});
        } else {
            made = runProgram({"/usr/bin/openssl", "req", "-newkey", "rsa:2048", "-nodes",
                               "-keyout", key, "-out", dir(name + ".csr"), "-subj", subject});
            ASSERT_EQ(made.status, 0) << made.err;
            made = runProgram({"/usr/bin/openssl", "x509", "-req", "-in", dir(name + ".csr"), "-CA",
                               dir(issuer + ".pem"), "-CAkey", dir(issuer + "-key.pem"),
                               "-set_serial", "7", "-days", "2", "-out", cert});
        }
        ASSERT_EQ(made.status, 0) << made.err;
    }

    // `in` signed by osslsigncode into `out` with the certificate `name`.
    void sign(const std::string& in, const std::string& out, const std::string& name) {
        const ProgramRun run =
            runProgram({kEnv, "osslsigncode", "sign", "-h", "sha256", "-certs", dir(name + ".pem"),
                        "-key", dir(name + "-key.pem"), "-in", in, "-out", out});
        ASSERT_EQ(run.status, 0) << run.out << run.err;
    }

    // `path` with the byte at `at` changed.
    void changeByte(const std::string& path, const std::string& out, std::size_t at) {
        std::string bytes = readHostFile(path);
        ASSERT_LT(at, bytes.size());
        bytes[at] = static_cast<char>(bytes[at] ^ 1);
        ASSERT_TRUE(writeHostFile(out, bytes));
    }

    TempPrefix prefix;
    std::string archive;
};

TEST_F(PePackerTest, ReplacesThePayloadOfEachStub) {
    makeCertificate("signer", "/CN=Ferrowick Test Signer");
    // Stubs made of each image: as it is, with a section added after its last, signed, and
    // with the payload table that older packers appended to a Windows stub (which Windows
    // never reads).
    std::vector<std::pair<std::string, std::string>> images = {{"a minimal image", "minimal"}};
    if (fs::exists(windowsLauncher())) {
        fs::copy_file(windowsLauncher(), dir("built.exe"));
        images.emplace_back("the launcher as built", "built");
    }
    struct Case {
        std::string what;
        std::string stub;
        std::string image;  // what it was made of
        bool wasSigned;
    };
    std::vector<Case> cases;
    for (const auto& [what, name] : images) {
        const std::string image = dir(name + ".exe");
        ASSERT_EQ(runProgram({kDebianPython, FERROWICK_PE_TOOL, "add-section", image,
                              dir(name + "-after.exe"), ".fwnote", "discardable"})
                      .status,
                  0);
        sign(image, dir(name + "-signed.exe"), "signer");
        ASSERT_TRUE(
            writeHostFile(dir(name + "-appended.exe"),
                          withResources(readHostFile(image), {{"TIMELISTINGS", "#132", "x"}})));
        cases.push_back({what, image, image, false});
        cases.push_back(
            {what + ", a section added after the last", dir(name + "-after.exe"), image, false});
        cases.push_back({what + ", signed", dir(name + "-signed.exe"), image, true});
        cases.push_back(
            {what + ", with a payload table appended", dir(name + "-appended.exe"), image, false});
    }
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
        // Debian's pefile judges the layout: SizeOfImage, each section after the
        // resources aligned and byte for byte what it was, the checksum.
        const ProgramRun judged = runProgram(
            {kDebianPython, FERROWICK_PE_TOOL, "judge", c.stub, dir("out.exe"), archive});
        EXPECT_EQ(judged.status, 0) << judged.out << judged.err;

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
        if (!c.wasSigned) {
            ASSERT_EQ(pack({"--payload", archive, "--stub", c.image, "--output", dir("direct.exe")})
                          .status,
                      0);
            EXPECT_EQ(out == readHostFile(dir("direct.exe")),
                      c.stub.find("-after.exe") == std::string::npos);
        }
    }

    // The check reads such a launcher's resource, and names the table as a problem.
    const ProgramRun appended = pack({"--check", "--launcher", dir("minimal-appended.exe")});
    EXPECT_EQ(appended.status, 1);
    EXPECT_NE(appended.out.find("problem: it also carries a payload table appended for a Linux "
                                "launcher, which Windows never reads"),
              std::string::npos)
        << appended.out;

    // Signed on the way, and osslsigncode agrees with the packer.
    const ProgramRun signedRun =
        pack({"--payload", archive, "--stub", dir("minimal-signed.exe"), "--output", dir("new.exe"),
              "--sign-cert", dir("signer.pem"), "--sign-key", dir("signer-key.pem")});
    ASSERT_EQ(signedRun.status, 0) << signedRun.err;
    EXPECT_NE(signedRun.out.find("signature: valid (subject CN=Ferrowick Test Signer, not from an "
                                 "authority this machine trusts)"),
              std::string::npos)
        << signedRun.out;
    EXPECT_EQ(runProgram({kEnv, "osslsigncode", "verify", "-CAfile", dir("signer.pem"), "-in",
                          dir("new.exe")})
                  .status,
              0);
}

// A launcher of the product's own: every image of the icon file replaces the first icon
// group and the icon resources only it listed, the version strings are set (FileVersion
// and ProductVersion the fixed numbers too), and nothing else of the resources changes.
// python3-pefile reads what the packer wrote, and the packer's check tells it.
TEST_F(PePackerTest, GivesTheLauncherTheProductsIconAndVersion) {
    ASSERT_EQ(runProgram({kDebianPython, FERROWICK_PE_TOOL, "make-icon", dir("new.ico")}).status,
              0);
    std::vector<std::pair<std::string, std::string>> stubs = {
        {"a minimal image, without icon or version", dir("minimal.exe")}};
    if (fs::exists(windowsLauncher())) {
        stubs.emplace_back("the launcher as built", windowsLauncher());
    }
    const std::vector<std::string> looks = {
        "--icon",    dir("new.ico"),
        "--version", "CompanyName=Orvelin Ltd",
        "--version", "FileVersion=2.1.0.7",
        "--version", "ProductVersion=3.0",
        "--version", "LegalCopyright=\xC2\xA9 2026 Orvelin Ltd"};
    for (const auto& [what, stub] : stubs) {
        SCOPED_TRACE(what);
        std::vector<std::string> options = {"--payload", archive,    "--stub",
                                            stub,        "--output", dir("looks.exe")};
        options.insert(options.end(), looks.begin(), looks.end());
        const ProgramRun run = pack(options);
        ASSERT_EQ(run.status, 0) << run.err;

        const ProgramRun read =
            runProgram({kDebianPython, FERROWICK_PE_TOOL, "looks", dir("looks.exe")});
        ASSERT_EQ(read.status, 0) << read.err;
        for (const std::string line :
             {"icon 48x48 32 bits, 9640 bytes in icon 1 of 9640 bytes\n",
              "icon 32x32 32 bits, 4264 bytes in icon 2 of 4264 bytes\n",
              "icon 16x16 32 bits, 1128 bytes in icon 3 of 1128 bytes\n",
              "CompanyName=Orvelin Ltd\n", "FileVersion=2.1.0.7\n", "ProductVersion=3.0\n",
              "LegalCopyright=\xC2\xA9 2026 Orvelin Ltd\n", "fixed file version: 2.1.0.7\n"}) {
            EXPECT_NE(read.out.find(line), std::string::npos) << line << read.out;
        }
        const ProgramRun check = pack({"--check", "--launcher", dir("looks.exe")});
        EXPECT_EQ(check.status, 0) << check.out << check.err;
        for (const std::string line :
             {"\nicon: 48x48 (32 bits), 32x32 (32 bits), 16x16 (32 bits)\n",
              "\nversion: file 2.1.0.7, product 3.0.0.0\n",
              "\nversion string: CompanyName \"Orvelin Ltd\"\n",
              "\nversion string: LegalCopyright \"\xC2\xA9 2026 Orvelin Ltd\"\n"}) {
            EXPECT_NE(check.out.find(line), std::string::npos) << line << check.out;
        }

        // Every other resource as it was; the icons and the version are all that changed.
        std::map<std::string, std::string> before = otherResources(readHostFile(stub));
        std::map<std::string, std::string> after = otherResources(readHostFile(dir("looks.exe")));
        for (auto* resources : {&before, &after}) {
            std::erase_if(*resources, [](const auto& r) {
                return r.first.rfind("3/", 0) == 0 || r.first.rfind("14/", 0) == 0 ||
                       r.first.rfind("16/", 0) == 0;
            });
        }
        EXPECT_EQ(after, before);

        // Packed again with another icon, the one before leaves no image behind.
        ASSERT_EQ(pack({"--payload", archive, "--stub", dir("looks.exe"), "--output",
                        dir("again.exe"), "--icon", dir("minimal-icon.ico")})
                      .status,
                  0);
        const std::map<std::string, std::string> again =
            otherResources(readHostFile(dir("again.exe")));
        EXPECT_EQ(std::count_if(again.begin(), again.end(),
                                [](const auto& r) { return r.first.rfind("3/", 0) == 0; }),
                  1);
        EXPECT_NE(again.find("3/1/1033"), again.end());
        EXPECT_NE(again.find("16/1/1033"), again.end()) << "the version went";
    }
}

// What a signature is, told from the signature itself, as any osslsigncode signs it: the
// file's digest computed anew, the signer's signature checked against its certificate,
// and the certificate's chain against the authorities this machine trusts (openssl's,
// which SSL_CERT_FILE names here).
TEST_F(PePackerTest, TellsTheStateOfASignature) {
    makeCertificate("signer", "/O=Orvelin Ltd/CN=Ferrowick Test Signer");
    makeCertificate("authority", "/CN=Ferrowick Test Authority", "", true);
    makeCertificate("issued", "/O=Orvelin Ltd/CN=Issued Signer", "authority");
    sign(dir("minimal.exe"), dir("signed.exe"), "signer");
    sign(dir("minimal.exe"), dir("issued.exe"), "issued");
    const std::string signedImage = readHostFile(dir("signed.exe"));
    const SignaturePlace place = signaturePlace(signedImage);
    ASSERT_NE(place.size, 0u);
    const std::string der = signedImage.substr(place.offset, place.size);
    // The signer's signature value ends its SignerInfo, the last thing in the signature;
    // the signed content names its kind (SpcPeImageData) early on.
    const std::size_t derEnd =
        4 + (static_cast<unsigned char>(der[2]) << 8 | static_cast<unsigned char>(der[3]));
    const std::size_t peImageData =
        der.find(std::string("\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x0F", 10));
    ASSERT_NE(peImageData, std::string::npos);
    changeByte(dir("signed.exe"), dir("changed-image.exe"), 0x401);  // in the code
    changeByte(dir("signed.exe"), dir("changed-value.exe"), place.offset + derEnd - 16);
    changeByte(dir("signed.exe"), dir("changed-content.exe"), place.offset + peImageData + 9);
    changeByte(dir("signed.exe"), dir("changed-tag.exe"), place.offset);

    const std::string untrusted = ", not from an authority this machine trusts)";
    const std::string signer = "valid (subject O=Orvelin Ltd, CN=Ferrowick Test Signer";
    const std::string issued = "valid (subject O=Orvelin Ltd, CN=Issued Signer";
    struct Case {
        const char* what;
        std::string file;
        std::string trusting;  // the authorities this machine trusts, when given
        std::string signature;
    } cases[] = {
        {"self-signed", "signed.exe", "", signer + untrusted},
        {"self-signed, and trusted here", "signed.exe", "signer.pem", signer + ")"},
        // Its signature holds the certificate but not the authority's.
        {"issued by an authority unknown here", "issued.exe", "", issued + untrusted},
        {"issued by an authority trusted here", "issued.exe", "authority.pem", issued + ")"},
        {"a byte of the image changed after signing", "changed-image.exe", "signer.pem",
         "broken (its digest does not match the file: it was changed after signing)"},
        {"a byte of the signature value changed", "changed-value.exe", "signer.pem",
         "broken (its signature does not verify)"},
        {"a byte of the signed content changed", "changed-content.exe", "signer.pem",
         "broken (its signature does not verify)"},
        {"the signature no PKCS#7 structure", "changed-tag.exe", "signer.pem",
         "broken (its signature cannot be read: it is no PKCS#7 signature of a Windows image)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> environment;
        if (!c.trusting.empty()) {
            environment.push_back("SSL_CERT_FILE=" + dir(c.trusting));
        }
        const ProgramRun check = pack({"--check", "--launcher", dir(c.file)}, environment);
        EXPECT_EQ(lineStarting(check.out, "signature: "), "signature: " + c.signature)
            << check.out << check.err;
        const bool broken = c.signature.rfind("broken", 0) == 0;
        EXPECT_EQ(check.status, broken ? 1 : 0) << check.out;
        EXPECT_EQ(check.out.find("problem: its signature is broken") != std::string::npos, broken)
            << check.out;
    }

    // Signing checks what it signed the same way: a certificate from an authority unknown
    // here signs.
    const ProgramRun signing =
        pack({"--payload", archive, "--stub", dir("minimal.exe"), "--output", dir("new.exe"),
              "--sign-cert", dir("issued.pem"), "--sign-key", dir("issued-key.pem")});
    EXPECT_EQ(signing.status, 0) << signing.err;
    EXPECT_NE(signing.out.find("; signature: " + issued + untrusted), std::string::npos)
        << signing.out;
}

// A signature comes from a file anyone may have made: the reader takes nothing that is
// not there, whatever is cut off or changed.
TEST_F(PePackerTest, ReadsOnlyWhatASignatureHolds) {
    makeCertificate("signer", "/CN=Ferrowick Test Signer");
    sign(dir("minimal.exe"), dir("signed.exe"), "signer");
    const std::string image = readHostFile(dir("signed.exe"));
    const SignaturePlace place = signaturePlace(image);
    ASSERT_NE(place.size, 0u);
    const std::string der = image.substr(place.offset, place.size);
    pack::Pkcs7Signature read;
    ASSERT_EQ(pack::readPkcs7Signature(der, read), "");
    EXPECT_EQ(read.imageDigestName, "sha256");
    EXPECT_EQ(read.signerDigestName, "sha256");
    EXPECT_EQ(read.imageDigest.size(), 32u);
    EXPECT_EQ(read.contentDigest.size(), 32u);
    EXPECT_EQ(read.signatureValue.size(), 256u);  // RSA, 2048 bits
    EXPECT_NE(der.find(read.signerCertificate), std::string::npos);
    EXPECT_NE(der.find(read.content), std::string::npos);
    // Only the signed attributes' tag differs from where they stand.
    EXPECT_NE(der.find(read.signedBytes.substr(1)), std::string::npos);
    EXPECT_EQ(read.signedBytes[0], '\x31');

    // Cut short anywhere, it is refused; with any byte changed, it is read or refused.
    const std::size_t derEnd =
        4 + (static_cast<unsigned char>(der[2]) << 8 | static_cast<unsigned char>(der[3]));
    for (std::size_t size = 0; size < derEnd; ++size) {
        const std::string cut = der.substr(0, size);
        EXPECT_NE(pack::readPkcs7Signature(cut, read), "") << size;
    }
    for (std::size_t at = 0; at < der.size(); ++at) {
        std::string changed = der;
        changed[at] = static_cast<char>(changed[at] ^ 0x80);
        static_cast<void>(pack::readPkcs7Signature(changed, read));
    }
}

TEST_F(PePackerTest, RefusesStubsItCannotPack) {
    ASSERT_TRUE(writeHostFile(dir("bare.exe"), bareImage()));
    ASSERT_TRUE(writeHostFile(dir("cut.exe"), bareImage().substr(0, 0x300)));
    std::string notPe = bareImage();
    notPe[0x40] = 'X';
    ASSERT_TRUE(writeHostFile(dir("mz-only.exe"), notPe));
    ASSERT_EQ(runProgram({kDebianPython, FERROWICK_PE_TOOL, "add-section", dir("minimal.exe"),
                          dir("writable.exe"), ".fwdata", "writable"})
                  .status,
              0);
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProgramRun run =
            pack({"--payload", archive, "--stub", c.stub, "--output", dir("out.exe")});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(dir("out.exe")));
        EXPECT_EQ(pack({"--check", "--launcher", c.stub}).status, c.checkStatus);
    }
}

// The launcher that ships keeps no symbols or debug sections; its debug information lies
// beside it in the file its debug link names, with that file's CRC-32.
TEST_F(PePackerTest, TheLauncherAsBuiltCarriesNoDebugInformation) {
    const std::string built = windowsLauncher();
    if (!fs::exists(built)) {
        GTEST_SKIP() << "no Windows launcher at " << built << " (cmake --preset mingw)";
    }
    const ProgramRun sections = runProgram({kEnv, "x86_64-w64-mingw32-objdump", "-h", built});
    ASSERT_EQ(sections.status, 0) << sections.err;
    EXPECT_EQ(sections.out.find(" .debug_"), std::string::npos) << sections.out;
    EXPECT_NE(sections.out.find(" .gnu_debuglink "), std::string::npos) << sections.out;
    const std::string bytes = readHostFile(built);
    pe::Image image;
    ASSERT_EQ(pe::readImage(readerOf(bytes), bytes.size(), image), "");
    EXPECT_EQ(readLittle(bytes.data() + image.fileHeader + 12, 4), 0u) << "symbols are left";

    ASSERT_EQ(runProgram({kEnv, "x86_64-w64-mingw32-objcopy", "--dump-section",
                          ".gnu_debuglink=" + dir("link.bin"), built, dir("ignored.exe")})
                  .status,
              0);
    const std::string link = readHostFile(dir("link.bin"));
    const std::string name = link.substr(0, link.find('\0'));
    EXPECT_EQ(name, fs::path(built).filename().string() + ".debug");
    const std::string debug = readHostFile((fs::path(built).parent_path() / name).string());
    ASSERT_FALSE(debug.empty());
    EXPECT_EQ(
        readLittle(link.data() + (name.size() + 4) / 4 * 4, 4),
        crc32(0, reinterpret_cast<const Bytef*>(debug.data()), static_cast<uInt>(debug.size())));
    const ProgramRun debugSections = runProgram({kEnv, "x86_64-w64-mingw32-objdump", "-h",
                                                 (fs::path(built).parent_path() / name).string()});
    EXPECT_NE(debugSections.out.find(" .debug_info "), std::string::npos) << debugSections.out;
}

// The README's figures of the Windows launcher are those the packer prints for the
// launcher as built: what --check --stub says of it, and the image of a launcher made of
// it with the worked example's payload.
TEST_F(PePackerTest, TheReadmeStatesTheFiguresOfTheLauncherAsBuilt) {
    const std::string built = windowsLauncher();
    if (!fs::exists(built)) {
        GTEST_SKIP() << "no Windows launcher at " << built << " (cmake --preset mingw)";
    }
    const std::string readme = readHostFile(FERROWICK_README);
    ASSERT_FALSE(readme.empty());
    const ProgramRun check = pack({"--check", "--payload", archive, "--stub", built});
    ASSERT_EQ(check.status, 0) << check.out << check.err;
    for (const std::string start : {"stub: Windows launcher (PE)", "stub image: "}) {
        const std::string line = lineStarting(check.out, start);
        ASSERT_FALSE(line.empty()) << check.out;
        std::size_t stated = 0;
        for (std::size_t at = 0; (at = readme.find("    " + start, at)) != std::string::npos;
             at += start.size()) {
            ++stated;
            EXPECT_EQ(lineStarting(readme.substr(at + 4), start), line)
                << "the README states other figures than --check --stub " << built;
        }
        EXPECT_GE(stated, 1u) << start;
    }

    // The worked example: a launcher with a payload of the stated size has the stated image.
    std::smatch wrote;
    ASSERT_TRUE(std::regex_search(readme, wrote,
                                  std::regex("wrote Orvelin-setup.exe: a Windows launcher \\(PE\\) "
                                             "carrying \\d+ items in a payload of (\\d+) bytes")));
    const std::string stub = readHostFile(built);
    uint64_t sizeOfImage = 0;
    uint64_t largest = 0;
    uint64_t limit = 0;
    ASSERT_EQ(
        pe::imageSizeFor(readerOf(stub), stub.size(), 54 + std::stoull(wrote[1]), sizeOfImage), "");
    ASSERT_EQ(pe::largestPayload(readerOf(stub), stub.size(), 54, largest, limit), "");
    const std::string image = "    image: " + std::to_string(sizeOfImage) + " bytes, at most " +
                              std::to_string(limit) + " (SizeOfImage)\n";
    const std::regex stated("    image: \\d+ bytes, at most \\d+ \\(SizeOfImage\\)\n");
    const auto begin = std::sregex_iterator(readme.begin(), readme.end(), stated);
    EXPECT_GE(std::distance(begin, std::sregex_iterator()), 1);
    for (auto it = begin; it != std::sregex_iterator(); ++it) {
        EXPECT_EQ(it->str(), image);
    }
}

}  // namespace
}  // namespace fw::test
