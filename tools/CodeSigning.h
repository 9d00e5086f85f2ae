// Signing a Windows launcher and telling the state of its signature, through
// osslsigncode (Debian's package). A password is handed over on a pipe, never on a
// command line.
#pragma once

#include <string>

namespace fw::pack {

struct SigningRequest {
    std::string certificate;  // with `key`
    std::string key;
    std::string pkcs12;        // instead of the two above
    std::string passwordFile;  // of the key or the PKCS#12 file
    std::string passwordEnvironment;
    std::string timestampUrl;
    bool wanted() const { return !certificate.empty() || !pkcs12.empty(); }
};

enum class SignatureKind { none, valid, broken, unknown };

struct Signature {
    SignatureKind kind = SignatureKind::none;
    std::string text;  // "none", "valid (subject ...)", "broken (why)", "unknown (why)"
};

// Signs the image `in` with SHA-256 into `out` (another file). Why it cannot, or empty.
std::string signImage(const SigningRequest& request, const std::string& in, const std::string& out);

// The state of the signature of an image that holds a certificate table: valid when
// its digest matches the file and it verifies with its own certificate chain (whether
// Windows trusts that chain is Windows' to say; the text tells when this machine
// does not).
Signature verifySignature(const std::string& path);

}  // namespace fw::pack
