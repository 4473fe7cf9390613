// Message digests through CryptoAPI, for the inspector's Windows console build: the AES provider,
// which has both MD5 and SHA-256, in a verify-only context (no key container to create).
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "common/unique_handle.h"
#include "digest.h"

namespace qarv::tools {

struct Digest::State {
    DWORD size = 0;
    qarv::UniqueCryptProvider provider;
    qarv::UniqueCryptHash hash;  // declared last: destroyed before the provider it came from
};

namespace {

[[noreturn]] void Fail(const char* call) {
    throw DigestError(std::string(call) + " failed (error " + std::to_string(GetLastError()) + ")");
}

}  // namespace

Digest::Digest(DigestAlgorithm algorithm) : m_state(new State) {
    const bool md5 = algorithm == DigestAlgorithm::kMd5;
    m_state->size = md5 ? 16 : 32;
    if (!CryptAcquireContextW(m_state->provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        Fail("CryptAcquireContextW");
    }
    if (!CryptCreateHash(m_state->provider.get(), md5 ? CALG_MD5 : CALG_SHA_256, 0, 0, m_state->hash.put())) {
        Fail("CryptCreateHash");
    }
}

Digest::~Digest() = default;

void Digest::Update(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const BYTE*>(data);
    // CryptHashData takes a DWORD length: feed larger inputs in pieces.
    constexpr std::size_t kLargestPiece = 1u << 30;
    while (size != 0) {
        const std::size_t piece = size < kLargestPiece ? size : kLargestPiece;
        if (!CryptHashData(m_state->hash.get(), bytes, static_cast<DWORD>(piece), 0)) Fail("CryptHashData");
        bytes += piece;
        size -= piece;
    }
}

std::vector<std::uint8_t> Digest::Finish() {
    std::vector<std::uint8_t> digest(m_state->size);
    DWORD size = m_state->size;
    if (!CryptGetHashParam(m_state->hash.get(), HP_HASHVAL, digest.data(), &size, 0) || size != m_state->size) {
        Fail("CryptGetHashParam");
    }
    return digest;
}

}  // namespace qarv::tools
