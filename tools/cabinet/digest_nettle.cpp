// Message digests through Nettle (Debian's nettle-dev), for the Linux builds of the tools.
#include <nettle/md5.h>
#include <nettle/sha2.h>

#include "digest.h"

namespace qarv::tools {

struct Digest::State {
    DigestAlgorithm algorithm;
    md5_ctx md5;
    sha256_ctx sha256;
};

Digest::Digest(DigestAlgorithm algorithm) : m_state(new State{algorithm, {}, {}}) {
    if (algorithm == DigestAlgorithm::kMd5) {
        md5_init(&m_state->md5);
    } else {
        sha256_init(&m_state->sha256);
    }
}

Digest::~Digest() = default;

void Digest::Update(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (m_state->algorithm == DigestAlgorithm::kMd5) {
        md5_update(&m_state->md5, size, bytes);
    } else {
        sha256_update(&m_state->sha256, size, bytes);
    }
}

std::vector<std::uint8_t> Digest::Finish() {
    if (m_state->algorithm == DigestAlgorithm::kMd5) {
        std::vector<std::uint8_t> digest(MD5_DIGEST_SIZE);
        md5_digest(&m_state->md5, digest.size(), digest.data());
        return digest;
    }
    std::vector<std::uint8_t> digest(SHA256_DIGEST_SIZE);
    sha256_digest(&m_state->sha256, digest.size(), digest.data());
    return digest;
}

}  // namespace qarv::tools
