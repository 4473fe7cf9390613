// The scrambling transform: its definition byte by byte, the chunk boundaries, and round trips.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "payload/scramble_transform.h"
#include "tests/support/payload_probe_module.h"

using namespace qarv;

namespace {

using qarv::payload_test::RandomBytes;

// The descrambling rule written out plainly, one byte at a time, as the reference.
void ReferenceDescramble(std::uint8_t* chunk, std::uint32_t length) {
    std::uint8_t key = static_cast<std::uint8_t>((length % 256) ^ 0x5D);
    for (std::uint32_t i = 0; i < length; ++i) {
        std::uint8_t b = chunk[i];
        switch (i % 4) {
            case 0: b ^= key; break;
            case 1: b = static_cast<std::uint8_t>(b - key); break;
            case 2: b = static_cast<std::uint8_t>(~b); break;
            default: {
                const unsigned count = key & 7;
                if (count != 0) b = static_cast<std::uint8_t>((b >> count) | (b << (8 - count)));
            }
        }
        chunk[i] = b;
        key = static_cast<std::uint8_t>(key + 1);
    }
}

std::vector<std::uint8_t> Descrambled(std::vector<std::uint8_t> bytes) {
    DescrambleChunk(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    return bytes;
}

TEST(PayloadTransform, MatchesTheReferenceForEveryChunkLength) {
    // Every length from 0 to 4,096 crosses the 16-byte blocks and the byte-at-a-time tail at
    // every offset and every first key.
    for (std::uint32_t length = 0; length <= kPayloadChunkSize; ++length) {
        std::vector<std::uint8_t> bytes = RandomBytes(length, length);
        std::vector<std::uint8_t> expected = bytes;
        ReferenceDescramble(expected.data(), length);
        DescrambleChunk(bytes.data(), length);
        ASSERT_EQ(bytes, expected) << "chunk length " << length;
    }
}

TEST(PayloadTransform, FullChunkStartsAtTheSeedKey) {
    const std::vector<std::uint8_t> out = Descrambled(std::vector<std::uint8_t>(kPayloadChunkSize, 0));
    EXPECT_EQ(out[0], 0x5D);  // 0 XOR 0x5D
    EXPECT_EQ(out[1], 0xA2);  // 0 - 0x5E
    EXPECT_EQ(out[2], 0xFF);
    EXPECT_EQ(out[4], 0x61);  // 0 XOR 0x61
    EXPECT_EQ(out[4092], static_cast<std::uint8_t>(0x5D + 4092));
}

TEST(PayloadTransform, ShortLastChunkKeysOnItsLength) {
    // 4,097 bytes: a full chunk, then one byte whose key is the seed XOR 1, only XORed.
    std::vector<std::uint8_t> payload(kPayloadChunkSize + 1, 0x33);
    DescramblePayload(payload.data(), payload.size());
    EXPECT_EQ(payload[kPayloadChunkSize], 0x33 ^ 0x5C);
    EXPECT_EQ(payload[0], 0x33 ^ 0x5D);
    // A short chunk whose length is a multiple of 256 starts at the seed as well.
    EXPECT_EQ(Descrambled(std::vector<std::uint8_t>(512, 0))[0], 0x5D);
    EXPECT_EQ(Descrambled(std::vector<std::uint8_t>(300, 0))[0], (300 % 256) ^ 0x5D);
}

TEST(PayloadTransform, EveryFullChunkRestartsKeyAndPosition) {
    const std::vector<std::uint8_t> half = RandomBytes(kPayloadChunkSize, 7);
    std::vector<std::uint8_t> payload = half;
    payload.insert(payload.end(), half.begin(), half.end());
    DescramblePayload(payload.data(), payload.size());
    EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + kPayloadChunkSize, payload.begin() + kPayloadChunkSize));
    EXPECT_EQ(std::vector<std::uint8_t>(payload.begin(), payload.begin() + kPayloadChunkSize), Descrambled(half));
}

TEST(PayloadTransform, ThirdBytesInvertedFourthUnrotatedAtKeyMultipleOfEight) {
    for (std::uint32_t length : {5u, 64u, 162u, 1000u, 4096u}) {
        const std::vector<std::uint8_t> in = RandomBytes(length, length + 1);
        const std::vector<std::uint8_t> out = Descrambled(in);
        const std::uint8_t firstKey = FirstChunkKey(length);
        for (std::uint32_t i = 0; i < length; ++i) {
            const auto key = static_cast<std::uint8_t>(firstKey + i);
            if (i % 4 == 2) {
                ASSERT_EQ(out[i], static_cast<std::uint8_t>(~in[i])) << length << " at " << i;
            }
            if (i % 4 == 3 && (key & 7) == 0) {
                ASSERT_EQ(out[i], in[i]) << length << " at " << i;
            }
        }
    }
}

TEST(PayloadTransform, KeyWrapsFrom255ToZero) {
    // A chunk of 162 bytes starts at key 162 XOR 0x5D = 255; its second byte uses key 0.
    ASSERT_EQ(FirstChunkKey(162), 0xFF);
    const std::vector<std::uint8_t> in = RandomBytes(162, 3);
    const std::vector<std::uint8_t> out = Descrambled(in);
    EXPECT_EQ(out[0], in[0] ^ 0xFF);
    EXPECT_EQ(out[1], in[1]);  // b - 0
    EXPECT_EQ(out[4], in[4] ^ 3);
}

TEST(PayloadTransform, ScrambleThenDescrambleGivesTheBytesBack) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{4095}, std::size_t{4096},
                             std::size_t{4097}, std::size_t{8192}, std::size_t{65536 + 4008}, std::size_t{200003}}) {
        const std::vector<std::uint8_t> original = RandomBytes(size, static_cast<unsigned>(size));
        std::vector<std::uint8_t> bytes = original;
        ScramblePayload(bytes.data(), bytes.size());
        if (size > 2) {
            EXPECT_NE(bytes, original) << size;
        }
        DescramblePayload(bytes.data(), bytes.size());
        EXPECT_EQ(bytes, original) << size;
    }
}

TEST(PayloadTransform, ChunkingOfTheShippedPayloadSize) {
    EXPECT_EQ(PayloadChunkCount(24252328), 5921u);
    EXPECT_EQ(PayloadChunkLength(5920u * 4096u, 24252328), 4008u);
    EXPECT_EQ(PayloadChunkCount(8192), 2u);
    EXPECT_EQ(PayloadChunkCount(0), 0u);
}

}  // namespace
