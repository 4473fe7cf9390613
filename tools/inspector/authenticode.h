// The launcher's Authenticode signature, read from its certificate table: who signed it, and
// whether the digest it signed is still the file's. The signature's cryptography (the signer's RSA
// signature, the certificate chain) is left to `osslsigncode verify` and to Windows; this tells a
// signed file from an unsigned one and from one changed after signing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_view.h"

namespace qarv::tools::inspector {

enum class SignatureStatus {
    kNone,         // no certificate table
    kMatches,      // the signed digests are the file's
    kMismatch,     // the file, or the signed content, changed after signing
    kUnreadable,   // a certificate table that is damaged, or signed in a way not checked here
};

// One signature's signer and timestamp: the primary signature's, or a nested one's.
struct SignerDetails {
    std::string digestAlgorithm;     // "SHA-256", or the algorithm's object identifier
    std::string signer;              // the signer's subject, "CN=..., O=..., C=..."
    std::string certificateSha256;   // the signer's certificate's fingerprint, "AB:CD:..."
    bool timestamped = false;        // a countersignature from a timestamp server is present
    std::string timestampKind;       // "RFC 3161" or "countersignature"
    std::string timestampTime;       // "2026-12-10 12:05:46 UTC"; empty where it cannot be read
    std::string timestampAuthority;  // the timestamp signer's subject; empty where it is not in the file
    std::string signedDigest;        // hexadecimal, as the signature carries it
};

struct SignatureCheck : SignerDetails {
    SignatureStatus status = SignatureStatus::kNone;
    std::string problem;  // what is wrong, for kMismatch and kUnreadable
    std::uint64_t tableOffset = 0;
    std::uint32_t tableSize = 0;
    std::string fileDigest;  // hexadecimal, as computed from the file
    // Signatures nested in the primary one (a second signature added beside it), in file order.
    // Their digests are not checked here, except where the primary one is not SHA-256: then the
    // first SHA-256 nested signature's digest is the one checked (nestedChecked is its index + 1).
    std::vector<SignerDetails> nested;
    std::size_t nestedChecked = 0;
};

// Reads the certificate table of the PE image in `file` and recomputes the Authenticode image
// digest: the whole file less its checksum field, its certificate-table directory entry and the
// certificate table itself. Never reads outside `file`. Throws tools::DigestError when the
// platform cannot compute a digest.
SignatureCheck CheckAuthenticode(ByteView file);

}  // namespace qarv::tools::inspector
