// What a Windows image's signature holds: the PKCS#7 SignedData in DER that its
// certificate table carries, read only as far as checking it needs. The image is signed
// through its digest, which the signed content (SpcIndirectDataContent) holds; the signer
// signs that content's digest among its signed attributes, or the content itself.
// The bytes come from a file anyone may have made: every length is checked against what
// is there before it is followed.
#pragma once

#include <string>
#include <string_view>

namespace fw::pack {

struct Pkcs7Signature {
    // Digests are named as openssl names them ("sha256"); empty for an algorithm this
    // reader does not know.
    std::string imageDigestName;
    std::string imageDigest;  // what the image's digest must be
    // The signed content's value, without its tag and length: what the signer's digest
    // covers.
    std::string content;
    std::string signerDigestName;
    // The content's digest as the signed attributes state it; empty when there are none.
    std::string contentDigest;
    // What the signature value signs: the signed attributes (tagged as a SET), or the
    // content when there are none.
    std::string signedBytes;
    std::string signatureValue;
    // The certificate the signer names (issuer and serial number), in DER.
    std::string signerCertificate;
};

// Reads `der`; why it is no such signature, or empty.
std::string readPkcs7Signature(std::string_view der, Pkcs7Signature& signature);

}  // namespace fw::pack
