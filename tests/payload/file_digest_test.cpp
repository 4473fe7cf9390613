// MD5 of files through the real CryptoAPI: against md5sum for the empty file, "abc", sizes around
// the 2,048-byte read and a multi-megabyte file; the text's shape; the missing default key container.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <cwctype>
#include <fstream>
#include <string>
#include <vector>

#include "common/platform_calls.h"
#include "common/unique_handle.h"

#include "payload/file_digest.h"
#include "tests/support/test_paths.h"

using namespace qarv;

namespace {

std::wstring DigestData(const std::wstring& name) {
    return qarv::test::ProgramFolder() + L"\\cabinet_data\\digest\\" + name;
}

std::wstring Upper(const std::string& text) {
    std::wstring out;
    for (char c : text) out.push_back(static_cast<wchar_t>(std::towupper(static_cast<unsigned char>(c))));
    return out;
}

std::wstring Digest(const std::wstring& path) {
    wchar_t text[kDigestTextCapacity] = {};
    if (ComputeFileMd5(path.c_str(), text) != 1) return L"<failed>";
    return text;
}

// Every input of the data folder against coreutils' md5sum: empty, "abc", 2,047 to 4,097 bytes
// around the read block, and 3 MiB + 17.
TEST(FileDigest, MatchesMd5sumAroundTheReadBlockAndForAMultiMegabyteFile) {
    std::ifstream sums(DigestData(L"md5sums.txt").c_str());
    ASSERT_TRUE(sums.good());
    std::string hex, name;
    int checked = 0;
    while (sums >> hex >> name) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Digest(DigestData(std::wstring(name.begin(), name.end()))), Upper(hex));
        ++checked;
    }
    EXPECT_EQ(checked, 8);
}

TEST(FileDigest, TextIs32UpperCaseDigitsThenZerosTo90Characters) {
    wchar_t text[kDigestTextCapacity + 10];
    std::wmemset(text, L'#', std::size(text));
    // MD5("") starts with D4 1D 8C D9 8F 00: a zero byte keeps both of its digits.
    ASSERT_EQ(ComputeFileMd5(DigestData(L"empty.bin").c_str(), text), 1);
    EXPECT_EQ(std::wstring(text, 32), L"D41D8CD98F00B204E9800998ECF8427E");
    for (int i = 32; i < kDigestTextCapacity; ++i) EXPECT_EQ(text[i], L'\0') << i;
    for (size_t i = kDigestTextCapacity; i < std::size(text); ++i) EXPECT_EQ(text[i], L'#') << i;
}

TEST(FileDigest, FailuresLeaveTheTextUntouched) {
    wchar_t text[kDigestTextCapacity];
    std::wmemset(text, L'#', kDigestTextCapacity);
    EXPECT_EQ(ComputeFileMd5(DigestData(L"missing.bin").c_str(), text), 0);
    EXPECT_EQ(ComputeFileMd5(qarv::test::ProgramFolder().c_str(), text), 0);  // a folder
    EXPECT_EQ(std::wstring(text, kDigestTextCapacity), std::wstring(kDigestTextCapacity, L'#'));
    EXPECT_EQ(ComputeFileMd5(DigestData(L"abc.bin").c_str(), nullptr), 0);
}

// A profile without the default key container: the first acquisition fails with NTE_BAD_KEYSET and
// the digest creates the container and goes on.
TEST(FileDigest, CreatesTheDefaultKeyContainerWhenItIsMissing) {
    HCRYPTPROV deleted = 0;
    CryptAcquireContextW(&deleted, nullptr, nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    HCRYPTPROV probe = 0;
    ASSERT_FALSE(CryptAcquireContextW(&probe, nullptr, nullptr, PROV_RSA_FULL, 0));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET));

    EXPECT_EQ(Digest(DigestData(L"abc.bin")), L"900150983CD24FB0D6963F7D28E17F72");

    ASSERT_TRUE(CryptAcquireContextW(&probe, nullptr, nullptr, PROV_RSA_FULL, 0));
    CryptReleaseContext(probe, 0);
}

// A provider that keeps failing: `g_failure` for every call, each call's flags recorded.
DWORD g_failure = 0;
std::vector<DWORD> g_acquireFlags;

BOOL WINAPI FailingAcquire(HCRYPTPROV* provider, LPCWSTR, LPCWSTR, DWORD, DWORD flags) {
    g_acquireFlags.push_back(flags);
    *provider = 0;
    SetLastError(g_failure);
    return FALSE;
}

TEST(FileDigest, OnlyTheMissingKeySetIsRetriedAndOnlyOnce) {
    qarv::PlatformCallsScope<FileDigestPlatformCalls> failing({FailingAcquire});
    wchar_t text[kDigestTextCapacity];
    std::wmemset(text, L'#', kDigestTextCapacity);

    g_failure = static_cast<DWORD>(NTE_BAD_KEYSET);
    g_acquireFlags.clear();
    EXPECT_EQ(ComputeFileMd5(DigestData(L"abc.bin").c_str(), text), 0);
    EXPECT_EQ(g_acquireFlags, (std::vector<DWORD>{0, CRYPT_NEWKEYSET}));

    g_failure = static_cast<DWORD>(NTE_PROV_DLL_NOT_FOUND);
    g_acquireFlags.clear();
    EXPECT_EQ(ComputeFileMd5(DigestData(L"abc.bin").c_str(), text), 0);
    EXPECT_EQ(g_acquireFlags, (std::vector<DWORD>{0}));
    EXPECT_EQ(std::wstring(text, kDigestTextCapacity), std::wstring(kDigestTextCapacity, L'#'));

    failing.calls().cryptAcquireContext = nullptr;
    EXPECT_EQ(Digest(DigestData(L"abc.bin")), L"900150983CD24FB0D6963F7D28E17F72");
}

}  // namespace
