#include "pack/Pkcs7Signature.h"

#include <cstddef>

namespace fw::pack {

namespace {

constexpr unsigned char kInteger = 0x02;
constexpr unsigned char kOctetString = 0x04;
constexpr unsigned char kObjectId = 0x06;
constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kSet = 0x31;
constexpr unsigned char kContext0 = 0xA0;  // [0], constructed
constexpr unsigned char kContext1 = 0xA1;

// Object identifiers as their DER contents.
constexpr std::string_view kSignedData("\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 9);
constexpr std::string_view kIndirectData("\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x04", 10);
constexpr std::string_view kMessageDigest("\x2A\x86\x48\x86\xF7\x0D\x01\x09\x04", 9);

constexpr const char* kNotSignedData = "it is no PKCS#7 signature of a Windows image";

struct DigestKind {
    std::string_view oid;
    const char* name;
    std::size_t size;
};
constexpr DigestKind kDigests[] = {
    {std::string_view("\x2A\x86\x48\x86\xF7\x0D\x02\x05", 8), "md5", 16},
    {std::string_view("\x2B\x0E\x03\x02\x1A", 5), "sha1", 20},
    {std::string_view("\x60\x86\x48\x01\x65\x03\x04\x02\x01", 9), "sha256", 32},
    {std::string_view("\x60\x86\x48\x01\x65\x03\x04\x02\x02", 9), "sha384", 48},
    {std::string_view("\x60\x86\x48\x01\x65\x03\x04\x02\x03", 9), "sha512", 64},
};

struct Element {
    unsigned char tag = 0;
    std::string_view value;  // the contents
    std::string_view whole;  // tag, length and contents
};

// Takes the element at the front of `in`: false unless it is one in DER's definite form
// that `in` holds whole. A signature's structure has no tag numbers above 30, and no
// length of more than four bytes.
bool take(std::string_view& in, Element& element) {
    if (in.size() < 2 || (static_cast<unsigned char>(in[0]) & 0x1F) == 0x1F) {
        return false;
    }
    std::size_t length = static_cast<unsigned char>(in[1]);
    std::size_t header = 2;
    if (length & 0x80) {
        const std::size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 4 || in.size() - 2 < bytes) {
            return false;
        }
        length = 0;
        for (std::size_t i = 0; i < bytes; ++i) {
            length = length << 8 | static_cast<unsigned char>(in[2 + i]);
        }
        header += bytes;
    }
    if (length > in.size() - header) {
        return false;
    }
    element.tag = static_cast<unsigned char>(in[0]);
    element.value = in.substr(header, length);
    element.whole = in.substr(0, header + length);
    in.remove_prefix(header + length);
    return true;
}

// Takes the element at the front of `in`, which must have `tag`.
bool take(std::string_view& in, unsigned char tag, Element& element) {
    return take(in, element) && element.tag == tag;
}

// The digest an AlgorithmIdentifier names, or null.
const DigestKind* digestOf(const Element& algorithm) {
    std::string_view in = algorithm.value;
    Element oid;
    if (!take(in, kObjectId, oid)) {
        return nullptr;
    }
    for (const DigestKind& kind : kDigests) {
        if (oid.value == kind.oid) {
            return &kind;
        }
    }
    return nullptr;
}

// The SpcIndirectDataContent: its value, and the image's digest in it.
bool readContent(const Element& contentInfo, Pkcs7Signature& signature) {
    std::string_view in = contentInfo.value;
    Element type;
    Element explicitContent;
    if (!take(in, kObjectId, type) || type.value != kIndirectData ||
        !take(in, kContext0, explicitContent)) {
        return false;
    }
    in = explicitContent.value;
    Element indirect;
    if (!take(in, kSequence, indirect)) {
        return false;
    }
    signature.content = indirect.value;
    in = indirect.value;
    Element data;
    Element digestInfo;
    if (!take(in, kSequence, data) || !take(in, kSequence, digestInfo)) {
        return false;
    }
    in = digestInfo.value;
    Element algorithm;
    Element digest;
    if (!take(in, kSequence, algorithm) || !take(in, kOctetString, digest)) {
        return false;
    }
    const DigestKind* kind = digestOf(algorithm);
    signature.imageDigestName = kind != nullptr ? kind->name : "";
    signature.imageDigest = digest.value;
    return kind == nullptr || digest.value.size() == kind->size;
}

// The certificate among `certificates` whose issuer and serial number are `issuerSerial`'s.
bool findSigner(std::string_view certificates, const Element& issuerSerial,
                Pkcs7Signature& signature) {
    std::string_view wanted = issuerSerial.value;
    Element issuer;
    Element serial;
    if (!take(wanted, kSequence, issuer) || !take(wanted, kInteger, serial)) {
        return false;
    }
    for (Element certificate; take(certificates, certificate);) {
        std::string_view in = certificate.value;
        Element tbs;
        if (certificate.tag != kSequence || !take(in, kSequence, tbs)) {
            continue;  // another kind of certificate: not one a signer is named by
        }
        in = tbs.value;
        Element field;
        if (!take(in, field)) {
            continue;
        }
        if (field.tag == kContext0 && !take(in, field)) {  // the version
            continue;
        }
        Element algorithm;
        Element certificateIssuer;
        if (field.tag == kInteger && field.whole == serial.whole &&
            take(in, kSequence, algorithm) && take(in, kSequence, certificateIssuer) &&
            certificateIssuer.whole == issuer.whole) {
            signature.signerCertificate = certificate.whole;
            return true;
        }
    }
    return false;
}

// The first signer: its certificate, digest, signed attributes and signature value.
std::string readSigner(const Element& signerInfo, std::string_view certificates,
                       Pkcs7Signature& signature) {
    std::string_view in = signerInfo.value;
    Element version;
    Element issuerSerial;
    Element digestAlgorithm;
    Element next;
    if (!take(in, kInteger, version) || !take(in, kSequence, issuerSerial) ||
        !take(in, kSequence, digestAlgorithm) || !take(in, next)) {
        return "its signer cannot be read";
    }
    Element attributes;
    const bool attributed = next.tag == kContext0;
    if (attributed) {
        attributes = next;
        if (!take(in, next)) {
            return "its signer cannot be read";
        }
    }
    Element value;
    if (next.tag != kSequence || !take(in, kOctetString, value)) {
        return "its signer cannot be read";
    }
    const DigestKind* kind = digestOf(digestAlgorithm);
    signature.signerDigestName = kind != nullptr ? kind->name : "";
    signature.signatureValue = value.value;
    if (attributed) {
        // Signed as a SET, though stored with the tag [0].
        signature.signedBytes = attributes.whole;
        signature.signedBytes[0] = static_cast<char>(kSet);
        std::string_view list = attributes.value;
        for (Element attribute; take(list, attribute);) {
            std::string_view fields = attribute.value;
            Element type;
            Element values;
            Element digest;
            if (attribute.tag == kSequence && take(fields, kObjectId, type) &&
                type.value == kMessageDigest && take(fields, kSet, values) &&
                take(values.value, kOctetString, digest)) {
                signature.contentDigest = digest.value;
            }
        }
        if (signature.contentDigest.empty()) {
            return "its signed attributes hold no digest of what it signs";
        }
    } else {
        signature.signedBytes = signature.content;
    }
    if (!findSigner(certificates, issuerSerial, signature)) {
        return "the certificate of its signer is not in it";
    }
    return {};
}

}  // namespace

std::string readPkcs7Signature(std::string_view der, Pkcs7Signature& signature) {
    signature = Pkcs7Signature{};
    std::string_view in = der;
    Element contentInfo;
    if (!take(in, kSequence, contentInfo)) {
        return kNotSignedData;
    }
    in = contentInfo.value;
    Element type;
    Element explicitData;
    Element signedData;
    if (!take(in, kObjectId, type) || type.value != kSignedData ||
        !take(in, kContext0, explicitData) || !take(explicitData.value, kSequence, signedData)) {
        return kNotSignedData;
    }
    in = signedData.value;
    Element version;
    Element digestAlgorithms;
    Element content;
    if (!take(in, kInteger, version) || !take(in, kSet, digestAlgorithms) ||
        !take(in, kSequence, content) || !readContent(content, signature)) {
        return kNotSignedData;
    }
    Element next;
    std::string_view certificates;
    if (!take(in, next)) {
        return kNotSignedData;
    }
    if (next.tag == kContext0) {
        certificates = next.value;
        if (!take(in, next)) {
            return kNotSignedData;
        }
    }
    if (next.tag == kContext1 && !take(in, next)) {  // revocation lists
        return kNotSignedData;
    }
    Element signerInfo;
    if (next.tag != kSet || !take(next.value, kSequence, signerInfo)) {
        return "it has no signer";
    }
    return readSigner(signerInfo, certificates, signature);
}

}  // namespace fw::pack
