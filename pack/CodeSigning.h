// Signing a Windows launcher through osslsigncode (Debian's package), and telling the
// state of its signature from the signature itself, with openssl, so that what any
// osslsigncode signs is judged alike. A password is handed over on a pipe, never on a
// command line.
#pragma once

#include <cstdint>
#include <string>

#include "pe/PeImage.h"

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
// the digest it signs is the file's and the signer's signature verifies with the key of
// the certificate it names (whether Windows trusts that certificate is Windows' to say;
// the text tells when it leads to no authority this machine trusts). The image, of
// `size` bytes, is read through `read`.
Signature verifySignature(const pe::ReadAt& read, uint64_t size);

}  // namespace fw::pack
