#include "pack/CodeSigning.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <vector>

#include "pack/DescriptorWrites.h"
#include "pack/Pkcs7Signature.h"
#include "pe/PeImage.h"
#include "platform/LittleEndian.h"

extern char** environ;

namespace fw::pack {

namespace {

constexpr int kNotFound = 127;
constexpr uint16_t kSignedDataCertificate = 0x0002;  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
using pe::kCertificateHeaderSize;
// No signature comes near this; a table that claims more is not read.
constexpr uint32_t kLargestCertificateTable = 16 << 20;
constexpr std::size_t kDigestChunk = 1 << 20;

struct ToolRun {
    int status = -1;     // exit status; kNotFound when it could not be started
    std::string output;  // standard output, and standard error when asked for
};

// Writes a program's standard input, all of it; false stops it.
using Feed = std::function<bool(int fd)>;

Feed bytesFeed(const std::string& bytes) {
    return [&bytes](int fd) { return writeAll(fd, bytes.data(), bytes.size()); };
}

// Runs a program found on PATH with what `feed` writes on its standard input. Its
// output is read once the input is written whole: the programs run here read all of
// their input before they write.
ToolRun runTool(const std::vector<std::string>& argv, const Feed& feed = {},
                bool withErrors = true) {
    ToolRun run;
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        run.output = std::strerror(errno);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (withErrors) {
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (spawned == 0 && feed) {
        // A program that stops reading early must not end this one.
        struct sigaction ignore {};
        struct sigaction previous {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &previous);
        static_cast<void>(feed(in[1]));
        sigaction(SIGPIPE, &previous, nullptr);
    }
    close(in[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            break;
        }
        run.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    if (spawned != 0) {
        run.status = spawned == ENOENT ? kNotFound : -1;
        run.output = std::strerror(spawned);
        return run;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

// The first line of `text` that holds `what`, from after it, trimmed.
std::string lineAfter(const std::string& text, const std::string& what) {
    const std::size_t at = text.find(what);
    if (at == std::string::npos) {
        return {};
    }
    std::size_t from = at + what.size();
    const std::size_t end = text.find('\n', from);
    std::string line = text.substr(from, end == std::string::npos ? end : end - from);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        line.erase(0, 1);
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

const char* const kNoSigner =
    "osslsigncode is not installed (install Debian's osslsigncode package)";
const char* const kNoOpenssl = "openssl is not installed (install Debian's openssl package)";

// A folder of its own for files that go with one verification, removed afterwards.
class ScratchFolder {
  public:
    ScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/ferrowick-pack-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchFolder() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The file `name` in the folder holding `bytes`; empty when it cannot be written.
    std::string file(const std::string& name, const std::string& bytes) const {
        const std::string path = path_ + "/" + name;
        const int fd =
            path_.empty() ? -1 : open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const bool written = fd >= 0 && writeAll(fd, bytes.data(), bytes.size());
        if (fd >= 0 && close(fd) != 0) {
            return {};
        }
        return written ? path : std::string();
    }

  private:
    std::string path_;
};

// What of an image its signature covers: everything before its certificate table but
// the checksum and the table's directory entry, padded to 8 bytes as signers pad it.
struct SignedImage {
    uint64_t checkSum = 0;  // file offsets of the two fields left out
    uint64_t directoryEntry = 0;
    uint64_t tableStart = 0;
    std::string der;  // the signature
};

std::string readSignedImage(const pe::ReadAt& read, uint64_t size, SignedImage& signedImage) {
    pe::Image image;
    if (std::string problem = pe::readImage(read, size, image); !problem.empty()) {
        return problem;
    }
    const pe::Directory table = image.directory(pe::kCertificateDirectory);
    if (table.size < kCertificateHeaderSize || table.address < image.sectionsEnd() ||
        uint64_t{table.address} + table.size > size) {
        return "its certificate table lies outside the end of the file";
    }
    unsigned char header[kCertificateHeaderSize];
    if (!read(header, sizeof header, table.address)) {
        return "its certificate table cannot be read";
    }
    const auto length = static_cast<uint32_t>(readLittle(header + pe::certificate::length, 4));
    if (readLittle(header + pe::certificate::type, 2) != kSignedDataCertificate ||
        length < kCertificateHeaderSize || length > table.size) {
        return "its certificate table holds no signature of the kind Windows checks";
    }
    if (length > kLargestCertificateTable) {
        return "its certificate table is larger than any signature";
    }
    signedImage.der.resize(length - kCertificateHeaderSize);
    if (!read(signedImage.der.data(), signedImage.der.size(),
              table.address + kCertificateHeaderSize)) {
        return "its certificate table cannot be read";
    }
    signedImage.checkSum = pe::checkSumOffset(image);
    signedImage.directoryEntry = pe::directoryOffset(image, pe::kCertificateDirectory);
    signedImage.tableStart = table.address;
    return {};
}

// Writes what the signature of `signedImage` covers.
bool feedSignedBytes(const pe::ReadAt& read, const SignedImage& signedImage, int fd) {
    const std::pair<uint64_t, uint64_t> left[] = {{signedImage.checkSum, 4},
                                                  {signedImage.directoryEntry, 8}};
    std::vector<char> buffer(kDigestChunk);
    for (uint64_t at = 0; at < signedImage.tableStart;) {
        uint64_t end = std::min(signedImage.tableStart, at + buffer.size());
        bool skipped = false;
        for (const auto& [start, size] : left) {
            if (at >= start && at < start + size) {
                at = start + size;
                skipped = true;
            } else if (at < start) {
                end = std::min(end, start);
            }
        }
        if (skipped) {
            continue;
        }
        const auto n = static_cast<std::size_t>(end - at);
        if (!read(buffer.data(), n, at) || !writeAll(fd, buffer.data(), n)) {
            return false;
        }
        at = end;
    }
    const char zeros[8] = {};
    return writeAll(fd, zeros, (8 - signedImage.tableStart % 8) % 8);
}

// The digest of what `feed` writes, as openssl computes it: its output, in binary.
ToolRun digestOf(const std::string& name, const Feed& feed) {
    return runTool({"openssl", "dgst", "-" + name, "-binary"}, feed, false);
}

// The signer's name as Windows shows a certificate's subject: its parts in order,
// "O=Firm, CN=Signer", characters other than ASCII as they are.
std::string subjectOf(const std::string& certificate) {
    const ToolRun run = runTool({"openssl", "x509", "-inform", "DER", "-noout", "-subject",
                                 "-nameopt", "esc_2253,esc_ctrl,utf8,sep_comma_plus_space"},
                                bytesFeed(certificate), false);
    const std::string prefix = "subject=";
    std::string subject = run.status == 0 && run.output.rfind(prefix, 0) == 0
                              ? run.output.substr(prefix.size())
                              : std::string();
    while (!subject.empty() && (subject.back() == '\n' || subject.back() == '\r')) {
        subject.pop_back();
    }
    return subject.empty() ? "not shown" : subject;
}

Signature broken(const std::string& why) {
    return {SignatureKind::broken, "broken (" + why + ")"};
}

Signature unknown(const std::string& why) {
    return {SignatureKind::unknown, "unknown (" + why + ")"};
}

}  // namespace

std::string signImage(const SigningRequest& request, const std::string& in,
                      const std::string& out) {
    std::vector<std::string> argv = {"osslsigncode", "sign", "-h", "sha256"};
    if (!request.pkcs12.empty()) {
        argv.insert(argv.end(), {"-pkcs12", request.pkcs12});
    } else {
        argv.insert(argv.end(), {"-certs", request.certificate, "-key", request.key});
    }
    std::string password;
    if (!request.passwordFile.empty()) {
        argv.insert(argv.end(), {"-readpass", request.passwordFile});
    } else if (!request.passwordEnvironment.empty()) {
        const char* value = std::getenv(request.passwordEnvironment.c_str());
        if (value == nullptr) {
            return "the environment variable " + request.passwordEnvironment +
                   " that should hold the password is not set";
        }
        password = value;
        argv.insert(argv.end(), {"-readpass", "/dev/stdin"});
    }
    if (!request.timestampUrl.empty()) {
        argv.insert(argv.end(), {"-ts", request.timestampUrl});
    }
    argv.insert(argv.end(), {"-in", in, "-out", out});
    const ToolRun run = runTool(argv, password.empty() ? Feed() : bytesFeed(password));
    if (run.status == kNotFound) {
        return kNoSigner;
    }
    if (run.status != 0) {
        // Its first "Failed to ..." line says what; the last says only "Failed".
        std::string why = lineAfter(run.output, "Failed to");
        why = why.empty() ? "status " + std::to_string(run.status) : "failed to " + why;
        return "osslsigncode could not sign it: " + why;
    }
    return {};
}

Signature verifySignature(const pe::ReadAt& read, uint64_t size) {
    SignedImage signedImage;
    if (std::string problem = readSignedImage(read, size, signedImage); !problem.empty()) {
        return broken(problem);
    }
    Pkcs7Signature signature;
    if (std::string problem = readPkcs7Signature(signedImage.der, signature); !problem.empty()) {
        return broken("its signature cannot be read: " + problem);
    }
    if (signature.imageDigestName.empty() || signature.signerDigestName.empty()) {
        return unknown("its digest is of a kind this packer does not know");
    }

    // The file as it is against the digest it was signed with.
    const ToolRun image = digestOf(signature.imageDigestName,
                                   [&](int fd) { return feedSignedBytes(read, signedImage, fd); });
    if (image.status == kNotFound) {
        return unknown(kNoOpenssl);
    }
    if (image.status != 0) {
        return unknown("openssl could not compute its digest");
    }
    if (image.output != signature.imageDigest) {
        return broken("its digest does not match the file: it was changed after signing");
    }
    // The signer's signature over that digest.
    const std::string doesNotVerify = "its signature does not verify";
    if (!signature.contentDigest.empty() &&
        digestOf(signature.signerDigestName, bytesFeed(signature.content)).output !=
            signature.contentDigest) {
        return broken(doesNotVerify);
    }
    const ScratchFolder folder;
    const ToolRun key = runTool({"openssl", "x509", "-inform", "DER", "-noout", "-pubkey"},
                                bytesFeed(signature.signerCertificate), false);
    const std::string keyFile = folder.file("signer-key.pem", key.output);
    const std::string valueFile = folder.file("signature.bin", signature.signatureValue);
    if (key.status != 0) {
        return broken("the certificate of its signer cannot be read");
    }
    if (keyFile.empty() || valueFile.empty()) {
        return unknown("no scratch folder for openssl's files could be made");
    }
    if (runTool({"openssl", "dgst", "-" + signature.signerDigestName, "-verify", keyFile,
                 "-signature", valueFile},
                bytesFeed(signature.signedBytes))
            .status != 0) {
        return broken(doesNotVerify);
    }

    // Whether the signer's certificate leads to an authority this machine trusts, with the
    // signature's other certificates on the way.
    const std::string subject = subjectOf(signature.signerCertificate);
    const ToolRun signer = runTool({"openssl", "x509", "-inform", "DER"},
                                   bytesFeed(signature.signerCertificate), false);
    const ToolRun chain = runTool({"openssl", "pkcs7", "-inform", "DER", "-print_certs"},
                                  bytesFeed(signedImage.der), false);
    const std::string signerFile = folder.file("signer.pem", signer.output);
    const std::string chainFile = folder.file("chain.pem", chain.output);
    const bool trusted =
        !signerFile.empty() && !chainFile.empty() &&
        runTool({"openssl", "verify", "-untrusted", chainFile, signerFile}, {}, false).status == 0;
    return {SignatureKind::valid,
            "valid (subject " + subject +
                (trusted ? ")" : ", not from an authority this machine trusts)")};
}

}  // namespace fw::pack
