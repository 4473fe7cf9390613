// The inspector's lines about a launcher's Authenticode signature.
#include "signature_report.h"

#include <cstdio>

namespace qarv::tools::inspector {
namespace {

// The lines every signature has, primary or nested: algorithm, signer, certificate, timestamp.
void PrintSigner(const SignerDetails& details) {
    std::printf("Authenticode, %s, %s\n", details.digestAlgorithm.c_str(), details.timestamped ? "timestamped" : "no timestamp");
    if (!details.signer.empty()) std::printf("            signer       %s\n", details.signer.c_str());
    if (!details.certificateSha256.empty()) {
        std::printf("            certificate  SHA-256 %s\n", details.certificateSha256.c_str());
    }
    if (!details.timestamped) {
        std::printf("            timestamp    none\n");
        return;
    }
    std::printf("            timestamp    %s, %s, by %s\n",
                details.timestampTime.empty() ? "(a time that cannot be read)" : details.timestampTime.c_str(),
                details.timestampKind.c_str(),
                details.timestampAuthority.empty() ? "(an authority whose certificate is not in the file)"
                                                   : details.timestampAuthority.c_str());
}

}  // namespace

void PrintSignature(const SignatureCheck& check) {
    if (check.status == SignatureStatus::kNone) {
        std::printf("  signature none (no certificate table)\n");
        return;
    }
    std::printf("  signature certificate table, %u bytes at file offset 0x%llX\n", check.tableSize,
                static_cast<unsigned long long>(check.tableOffset));
    if (!check.digestAlgorithm.empty()) {
        std::printf("            ");
        PrintSigner(check);
    }
    switch (check.status) {
        case SignatureStatus::kMatches:
            std::printf("            digest       matches the file (%s)%s\n", check.fileDigest.c_str(),
                        check.nestedChecked != 0 ? ", by the nested SHA-256 signature" : "");
            break;
        case SignatureStatus::kMismatch:
            std::printf("            digest       DOES NOT MATCH: %s\n", check.problem.c_str());
            break;
        default:
            std::printf("            digest       not checked: %s\n", check.problem.c_str());
            break;
    }
    for (std::size_t i = 0; i < check.nested.size(); ++i) {
        std::printf("  nested %u  ", static_cast<unsigned>(i + 1));
        PrintSigner(check.nested[i]);
        std::printf("            digest       %s\n", i + 1 == check.nestedChecked ? "the one checked above"
                                                                                : "not checked (a nested signature)");
    }
}

}  // namespace qarv::tools::inspector
