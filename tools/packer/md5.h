// MD5 (RFC 1321) for the packer's report: the same digest the launcher traces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace packer {

class Md5 {
public:
    Md5();
    void Update(const void* data, std::size_t size);
    // The digest as 32 upper-case hexadecimal digits; the object is spent afterwards.
    std::string FinishHex();

private:
    void Block(const std::uint8_t* block);

    std::uint32_t m_state[4];
    std::uint64_t m_length = 0;
    std::uint8_t m_buffer[64];
    std::size_t m_buffered = 0;
};

}  // namespace packer
