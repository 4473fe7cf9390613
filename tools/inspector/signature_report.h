// The inspector's lines about a launcher's Authenticode signature.
#pragma once

#include "authenticode.h"

namespace qarv::tools::inspector {

// Prints the signature lines of the report to standard output: "none", or the certificate table,
// the signer and whether the signed digest is still the file's.
void PrintSignature(const SignatureCheck& check);

}  // namespace qarv::tools::inspector
