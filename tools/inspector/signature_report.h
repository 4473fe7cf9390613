// The inspector's lines about a launcher's Authenticode signature.
#pragma once

#include "authenticode.h"

namespace qarv::tools::inspector {

// Prints the signature lines of the report to standard output: "none", or the certificate table,
// per signature its digest algorithm, signer and timestamp, and whether the signed digest is still
// the file's (the primary signature's only).
void PrintSignature(const SignatureCheck& check);

}  // namespace qarv::tools::inspector
