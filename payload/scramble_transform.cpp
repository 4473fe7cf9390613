// The payload's scrambling transform and its inverse.
#include "payload/scramble_transform.h"

#include <cstring>

namespace qarv {

namespace {

enum class Direction { kScramble, kDescramble };

inline std::uint8_t RotateRight(std::uint8_t value, unsigned count) {
    count &= 7;
    return count == 0 ? value : static_cast<std::uint8_t>((value >> count) | (value << (8 - count)));
}

inline std::uint8_t RotateLeft(std::uint8_t value, unsigned count) {
    count &= 7;
    return count == 0 ? value : static_cast<std::uint8_t>((value << count) | (value >> (8 - count)));
}

// One byte at chunk position `position` with key `key`.
template <Direction kDirection>
inline std::uint8_t TransformByte(std::uint8_t b, std::uint32_t position, std::uint8_t key) {
    switch (position & 3) {
        case 0: return static_cast<std::uint8_t>(b ^ key);
        case 1: return static_cast<std::uint8_t>(kDirection == Direction::kDescramble ? b - key : b + key);
        case 2: return static_cast<std::uint8_t>(~b);
        default: return kDirection == Direction::kDescramble ? RotateRight(b, key) : RotateLeft(b, key);
    }
}

#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define QARV_TRANSFORM_VECTORS 1

// Sixteen bytes at a time with the compiler's portable vector types (SSE2 on x86, plain integer
// code elsewhere). The pattern repeats every four bytes and the key rises by 16 per block, so the
// two rotation counts of a chunk's fourth bytes never change within the chunk.
typedef std::uint8_t Bytes16 __attribute__((vector_size(16)));
typedef std::uint32_t Words4 __attribute__((vector_size(16)));

constexpr Bytes16 kFirstBytes = {0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0};
constexpr Bytes16 kSecondBytes = {0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0};
constexpr Bytes16 kThirdBytes = {0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0};
constexpr Words4 kEvenWords = {0xFFFFFFFFu, 0, 0xFFFFFFFFu, 0};

// Transforms the first (length AND ~15) bytes of a chunk whose first key is `key`; returns how
// many bytes it handled.
template <Direction kDirection>
std::uint32_t TransformBlocks(std::uint8_t* chunk, std::uint32_t length, std::uint8_t key) {
    const std::uint32_t blockBytes = length & ~15u;
    Bytes16 keys;
    for (unsigned i = 0; i < 16; ++i) keys[i] = static_cast<std::uint8_t>(key + i);
    const unsigned evenCount = (key + 3u) & 7;  // words 0 and 2 of every block
    const unsigned oddCount = (key + 7u) & 7;   // words 1 and 3
    for (std::uint32_t offset = 0; offset < blockBytes; offset += 16) {
        Bytes16 in;
        std::memcpy(&in, chunk + offset, sizeof in);
        const Bytes16 flipped = in ^ ((keys & kFirstBytes) | kThirdBytes);
        Bytes16 shifted;
        if constexpr (kDirection == Direction::kDescramble) {
            shifted = in - keys;
        } else {
            shifted = in + keys;
        }
        const Bytes16 low = (flipped & ~kSecondBytes) | (shifted & kSecondBytes);

        // The fourth bytes, one per word in its low bits, rotated by both counts; a shift by 8
        // only moves bits out of the byte, which the mask drops.
        const Words4 top = (Words4)in >> 24;
        Words4 evenRotated, oddRotated;
        if constexpr (kDirection == Direction::kDescramble) {
            evenRotated = (top >> evenCount) | (top << (8 - evenCount));
            oddRotated = (top >> oddCount) | (top << (8 - oddCount));
        } else {
            evenRotated = (top << evenCount) | (top >> (8 - evenCount));
            oddRotated = (top << oddCount) | (top >> (8 - oddCount));
        }
        const Words4 rotated = ((evenRotated & kEvenWords) | (oddRotated & ~kEvenWords)) & 0xFFu;
        const Words4 out = ((Words4)low & 0x00FFFFFFu) | (rotated << 24);
        std::memcpy(chunk + offset, &out, sizeof out);
        keys += 16;
    }
    return blockBytes;
}
#endif

template <Direction kDirection>
void TransformChunk(std::uint8_t* chunk, std::uint32_t length) {
    if (chunk == nullptr || length == 0) return;
    const std::uint8_t firstKey = FirstChunkKey(length);
    std::uint32_t position = 0;
#ifdef QARV_TRANSFORM_VECTORS
    position = TransformBlocks<kDirection>(chunk, length, firstKey);
#endif
    for (; position < length; ++position) {
        const auto key = static_cast<std::uint8_t>(firstKey + position);
        chunk[position] = TransformByte<kDirection>(chunk[position], position, key);
    }
}

template <Direction kDirection>
void TransformPayload(std::uint8_t* data, std::size_t size) {
    for (std::size_t offset = 0; offset < size; offset += kPayloadChunkSize) {
        TransformChunk<kDirection>(data + offset, PayloadChunkLength(offset, size));
    }
}

}  // namespace

void DescrambleChunk(std::uint8_t* chunk, std::uint32_t length) {
    TransformChunk<Direction::kDescramble>(chunk, length);
}

void ScrambleChunk(std::uint8_t* chunk, std::uint32_t length) {
    TransformChunk<Direction::kScramble>(chunk, length);
}

void ScramblePayload(std::uint8_t* data, std::size_t size) {
    TransformPayload<Direction::kScramble>(data, size);
}

void DescramblePayload(std::uint8_t* data, std::size_t size) {
    TransformPayload<Direction::kDescramble>(data, size);
}

}  // namespace qarv
