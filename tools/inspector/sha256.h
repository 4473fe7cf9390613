// SHA-256 (FIPS 180-4), fed in pieces: the signature check hashes a file around the parts that
// Authenticode leaves out. The same code serves the Linux and the Windows console builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace inspector {

class Sha256 {
public:
    Sha256();
    void Update(const std::uint8_t* data, std::size_t size);
    // The 32-byte digest; the object is spent afterwards.
    void Finish(std::uint8_t digest[32]);

private:
    void Block(const std::uint8_t* block);

    std::uint32_t m_state[8];
    std::uint8_t m_buffer[64];
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0;
};

// Upper-case hexadecimal, with `separator` between bytes when it is not '\0'.
std::string HexBytes(const std::uint8_t* data, std::size_t size, char separator = '\0');

}  // namespace inspector
