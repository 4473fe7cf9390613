// The payload's scrambling transform and its inverse, over 4,096-byte chunks from offset 0.
// Portable (no Windows headers): the launcher descrambles with it, the build-time packer scrambles.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qarv {

// Every chunk is this long except the last, which holds the remainder (1 to 4,096 bytes).
constexpr std::uint32_t kPayloadChunkSize = 4096;

// Number of chunks a payload of `size` bytes is cut into (0 for an empty payload).
constexpr std::size_t PayloadChunkCount(std::size_t size) {
    return (size + kPayloadChunkSize - 1) / kPayloadChunkSize;
}

// Length of the chunk that starts at `offset` in a payload of `size` bytes (offset < size).
constexpr std::uint32_t PayloadChunkLength(std::size_t offset, std::size_t size) {
    return size - offset >= kPayloadChunkSize ? kPayloadChunkSize : static_cast<std::uint32_t>(size - offset);
}

// First key of a chunk of `length` bytes; the key then rises by one (mod 256) after every byte.
constexpr std::uint8_t FirstChunkKey(std::uint32_t length) {
    return static_cast<std::uint8_t>((length & 0xFF) ^ 0x5D);
}

// Descrambles one chunk in place. Byte i with key k becomes, by i mod 4: b XOR k; b - k;
// NOT b; b rotated right by (k AND 7). A length of 0 changes nothing.
void DescrambleChunk(std::uint8_t* chunk, std::uint32_t length);

// The inverse of DescrambleChunk: b XOR k; b + k; NOT b; b rotated left by (k AND 7).
void ScrambleChunk(std::uint8_t* chunk, std::uint32_t length);

// Whole payloads, chunk by chunk from offset 0, in place.
void ScramblePayload(std::uint8_t* data, std::size_t size);
void DescramblePayload(std::uint8_t* data, std::size_t size);

}  // namespace qarv
