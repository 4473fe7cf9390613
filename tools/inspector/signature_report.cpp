// The inspector's lines about a launcher's Authenticode signature.
#include "signature_report.h"

#include <cstdio>

namespace qarv::tools::inspector {

void PrintSignature(const SignatureCheck& check) {
    if (check.status == SignatureStatus::kNone) {
        std::printf("  signature none (no certificate table)\n");
        return;
    }
    std::printf("  signature certificate table, %u bytes at file offset 0x%llX\n", check.tableSize,
                static_cast<unsigned long long>(check.tableOffset));
    if (!check.digestAlgorithm.empty()) {
        std::printf("            Authenticode, %s, %s\n", check.digestAlgorithm.c_str(),
                    check.timestamped ? "timestamped" : "no timestamp");
    }
    if (!check.signer.empty()) std::printf("            signer       %s\n", check.signer.c_str());
    if (!check.certificateSha256.empty()) {
        std::printf("            certificate  SHA-256 %s\n", check.certificateSha256.c_str());
    }
    switch (check.status) {
        case SignatureStatus::kMatches:
            std::printf("            digest       matches the file (%s)\n", check.fileDigest.c_str());
            break;
        case SignatureStatus::kMismatch:
            std::printf("            digest       DOES NOT MATCH: %s\n", check.problem.c_str());
            break;
        default:
            std::printf("            digest       not checked: %s\n", check.problem.c_str());
            break;
    }
}

}  // namespace qarv::tools::inspector
