// Message digests for the tools: MD5 (the program's digest, as the launcher traces it) and SHA-256
// (Authenticode). Two implementations, chosen by the build: Nettle on Linux (digest_nettle.cpp),
// CryptoAPI in the inspector's Windows console build (digest_cryptoapi.cpp), as the launcher does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace qarv::tools {

enum class DigestAlgorithm { kMd5, kSha256 };

// The platform could not compute a digest (only CryptoAPI can fail: no provider, no algorithm).
struct DigestError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A digest fed in pieces. Throws DigestError when the platform fails it.
class Digest {
public:
    explicit Digest(DigestAlgorithm algorithm);
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    void Update(const void* data, std::size_t size);
    // The digest's bytes (16 for MD5, 32 for SHA-256); the object is spent afterwards.
    std::vector<std::uint8_t> Finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace qarv::tools
