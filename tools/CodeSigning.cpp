#include "tools/CodeSigning.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

extern char** environ;

namespace fw::pack {

namespace {

constexpr int kNotFound = 127;

struct ToolRun {
    int status = -1;     // exit status; kNotFound when it could not be started
    std::string output;  // standard output and error together
};

// Runs a program found on PATH with `input` on its standard input.
ToolRun runTool(const std::vector<std::string>& argv, const std::string& input = {}) {
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
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
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
    if (spawned == 0 && !input.empty()) {
        // The password is far smaller than a pipe's buffer; a program that never reads
        // it must not end this one.
        struct sigaction ignore {};
        struct sigaction previous {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &previous);
        const ssize_t wrote = write(in[1], input.data(), input.size());
        static_cast<void>(wrote);
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

// "/O=Firm/CN=Signer" as "O=Firm, CN=Signer", the way Windows writes names: a slash
// starts a part when a key and "=" follow it.
std::string nameOf(const std::string& slashed) {
    std::string out;
    for (std::size_t i = 0; i < slashed.size(); ++i) {
        std::size_t key = i + 1;
        while (key < slashed.size() && std::isalnum(static_cast<unsigned char>(slashed[key]))) {
            ++key;
        }
        if (slashed[i] == '/' && key > i + 1 && key < slashed.size() && slashed[key] == '=') {
            out += out.empty() ? "" : ", ";
        } else {
            out += slashed[i];
        }
    }
    return out;
}

const char* const kNoTool = "osslsigncode is not installed (install Debian's osslsigncode package)";

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
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

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
    const ToolRun run = runTool(argv, password);
    if (run.status == kNotFound) {
        return kNoTool;
    }
    if (run.status != 0) {
        // Its first "Failed to ..." line says what; the last says only "Failed".
        std::string why = lineAfter(run.output, "Failed to");
        why = why.empty() ? "status " + std::to_string(run.status) : "failed to " + why;
        return "osslsigncode could not sign it: " + why;
    }
    return {};
}

Signature verifySignature(const std::string& path) {
    Signature state;
    // Trusted by this machine's authorities, as far as it knows them.
    const ToolRun trusted = runTool({"osslsigncode", "verify", "-in", path});
    if (trusted.status == kNotFound) {
        return {SignatureKind::unknown, std::string("unknown (") + kNoTool + ")"};
    }
    std::string subject = nameOf(lineAfter(trusted.output, "Subject:"));
    if (subject.empty()) {
        subject = "not shown";
    }
    if (trusted.status == 0) {
        return {SignatureKind::valid, "valid (subject " + subject + ")"};
    }
    if (lineAfter(trusted.output, "Calculated message digest").find("MISMATCH") !=
        std::string::npos) {
        return {SignatureKind::broken,
                "broken (its digest does not match the file: it was changed after signing)"};
    }
    // Checked against its own chain: sound, though from no authority known here.
    ScratchFolder folder;
    const std::string signature = folder.path() + "/signature.pem";
    const std::string chain = folder.path() + "/chain.pem";
    const bool extracted =
        !folder.path().empty() &&
        runTool({"osslsigncode", "extract-signature", "-pem", "-in", path, "-out", signature})
                .status == 0 &&
        runTool({"openssl", "pkcs7", "-print_certs", "-in", signature, "-out", chain}).status == 0;
    if (extracted &&
        runTool({"osslsigncode", "verify", "-in", path, "-CAfile", chain}).status == 0) {
        return {SignatureKind::valid,
                "valid (subject " + subject + ", not from an authority this machine trusts)"};
    }
    return {SignatureKind::broken, "broken (its signature does not verify)"};
}

}  // namespace fw::pack
