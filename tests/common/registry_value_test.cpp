// The bounded registry read every reader shares, against the real registry of the test prefix:
// what the callers' own tests cannot see, the bytes past the buffer and a key only opened.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "common/registry_value.h"
#include "tests/support/registry_fixture.h"

namespace {

constexpr const wchar_t* kTestKey = L"SOFTWARE\\QarvTest\\RegistryValue";
constexpr const char* kTestKeyAnsi = "SOFTWARE\\QarvTest\\RegistryValue";

class RegistryValueTest : public ::testing::Test {
protected:
    void SetUp() override { qarv::test::DeleteHklmTree(kTestKey); }
    void TearDown() override { qarv::test::DeleteHklmTree(kTestKey); }
};

TEST_F(RegistryValueTest, OpeningOnlyCreatesNothingAndCreatingMakesTheKeyEmpty) {
    EXPECT_FALSE(qarv::OpenRegistryKeyToRead(HKEY_LOCAL_MACHINE, kTestKey, qarv::RegistryKeyMode::kOpenExisting));
    EXPECT_FALSE(qarv::OpenRegistryKeyToRead(HKEY_LOCAL_MACHINE, kTestKeyAnsi, qarv::RegistryKeyMode::kOpenExisting));
    EXPECT_FALSE(qarv::test::HklmKeyExists(kTestKey));

    const qarv::UniqueRegKey key =
        qarv::OpenRegistryKeyToRead(HKEY_LOCAL_MACHINE, kTestKeyAnsi, qarv::RegistryKeyMode::kCreateIfMissing);
    ASSERT_TRUE(key);
    EXPECT_TRUE(qarv::test::HklmKeyExists(kTestKey));
    wchar_t buffer[8] = {};
    EXPECT_FALSE(qarv::ReadRegistryValue(key.get(), L"absent", REG_SZ, qarv::RegistrySize::kUpToCapacity, buffer,
                                         sizeof(buffer)));
    // Query access only: the reader cannot write through the key it was given.
    const DWORD one = 1;
    EXPECT_NE(RegSetValueExW(key.get(), L"written", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one)),
              ERROR_SUCCESS);
}

TEST_F(RegistryValueTest, LongerValueFailsWithoutTouchingPastTheBuffer) {
    qarv::test::SetHklmString(kTestKey, L"long", std::wstring(40, L'q'));
    qarv::test::SetHklmString(kTestKey, L"fits", L"C:\\Qarv");
    qarv::test::SetHklmString(kTestKey, L"expand", L"C:\\Qarv", REG_EXPAND_SZ);
    const qarv::UniqueRegKey key =
        qarv::OpenRegistryKeyToRead(HKEY_LOCAL_MACHINE, kTestKey, qarv::RegistryKeyMode::kOpenExisting);
    ASSERT_TRUE(key);

    // Wide and ANSI reads of 16 bytes into a larger, marked buffer.
    wchar_t wide[16];
    std::fill(std::begin(wide), std::end(wide), L'#');
    EXPECT_FALSE(qarv::ReadRegistryValue(key.get(), L"long", REG_SZ, qarv::RegistrySize::kUpToCapacity, wide, 16));
    for (size_t i = 8; i < 16; ++i) EXPECT_EQ(wide[i], L'#') << i;

    char ansi[32];
    std::memset(ansi, '#', sizeof(ansi));
    EXPECT_FALSE(qarv::ReadRegistryValue(key.get(), "long", REG_SZ, qarv::RegistrySize::kUpToCapacity, ansi, 16));
    for (size_t i = 16; i < sizeof(ansi); ++i) EXPECT_EQ(ansi[i], '#') << i;

    // A value that fits is read whole; the type decides unless any type is accepted.
    std::memset(ansi, 0, sizeof(ansi));
    EXPECT_TRUE(qarv::ReadRegistryValue(key.get(), "fits", REG_SZ, qarv::RegistrySize::kUpToCapacity, ansi, 16));
    EXPECT_STREQ(ansi, "C:\\Qarv");
    EXPECT_FALSE(qarv::ReadRegistryValue(key.get(), "expand", REG_SZ, qarv::RegistrySize::kUpToCapacity, ansi, 16));
    std::memset(ansi, 0, sizeof(ansi));
    EXPECT_TRUE(qarv::ReadRegistryValue(key.get(), "expand", qarv::kAnyRegistryType, qarv::RegistrySize::kUpToCapacity,
                                        ansi, 16));
    EXPECT_STREQ(ansi, "C:\\Qarv");
    // Four bytes of another type are no double word, unless any type is accepted.
    const BYTE four[] = {1, 2, 3, 4};
    qarv::test::SetHklmValue(kTestKey, L"four", REG_BINARY, four, sizeof(four));
    DWORD word = 0;
    EXPECT_FALSE(qarv::ReadRegistryValue(key.get(), L"four", REG_DWORD, qarv::RegistrySize::kExactlyCapacity, &word,
                                         sizeof(word)));
    EXPECT_TRUE(qarv::ReadRegistryValue(key.get(), L"four", qarv::kAnyRegistryType,
                                        qarv::RegistrySize::kExactlyCapacity, &word, sizeof(word)));
    EXPECT_EQ(word, 0x04030201u);
}

}  // namespace
