// The double-word reader and the setup settings, against the test prefix's real registry.
#include <gtest/gtest.h>

#include <windows.h>

#include "diag/settings.h"
#include "diag/trace.h"
#include "tests/support/registry_fixture.h"

using namespace qarv;

namespace {

using namespace qarv::test;

constexpr const wchar_t* kTestKey = L"SOFTWARE\\QarvTest\\Settings";

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteHklmTree(kTestKey);
        DeleteHklmTree(kSetupSettingsKey);
    }
    void TearDown() override {
        DeleteHklmTree(kTestKey);
        DeleteHklmTree(kSetupSettingsKey);
        TraceEnabled = 0;
    }
};

TEST_F(SettingsTest, ReadsOnlyAFourByteDoubleWord) {
    const DWORD64 quad = 1;
    const DWORD bigEndian = 0x01000000;
    const BYTE binary[4] = {1, 0, 0, 0};
    SetHklmDword(kTestKey, L"dword", 7);
    SetHklmString(kTestKey, L"string", L"1");
    SetHklmValue(kTestKey, L"quad", REG_QWORD, &quad, sizeof(quad));
    SetHklmValue(kTestKey, L"big", REG_DWORD_BIG_ENDIAN, &bigEndian, sizeof(bigEndian));
    SetHklmValue(kTestKey, L"binary", REG_BINARY, binary, sizeof(binary));
    SetHklmValue(kTestKey, L"short", REG_DWORD, binary, 2);

    DWORD value = 0xAAAAAAAA;
    EXPECT_EQ(ReadDwordSetting(kTestKey, &value, L"dword"), 1);
    EXPECT_EQ(value, 7u);
    for (const wchar_t* rejected : {L"string", L"quad", L"big", L"binary", L"short", L"missing"}) {
        SCOPED_TRACE(std::string(rejected, rejected + wcslen(rejected)));
        value = 0xAAAAAAAA;
        EXPECT_EQ(ReadDwordSetting(kTestKey, &value, rejected), 0);
        EXPECT_EQ(value, 0xAAAAAAAAu) << "a rejected value leaves the caller's value alone";
    }
    EXPECT_EQ(ReadDwordSetting(kTestKey, nullptr, L"dword"), 0);
}

TEST_F(SettingsTest, MissingKeyIsCreatedEmpty) {
    DWORD value = 0;
    EXPECT_EQ(ReadDwordSetting(kTestKey, &value, L"anything"), 0);
    EXPECT_TRUE(HklmKeyExists(kTestKey));
}

TEST_F(SettingsTest, TraceIsOnForAnyNonZeroDoubleWordAndOffOtherwise) {
    struct Case {
        const char* name;
        void (*arrange)();
        DWORD enabled;
    };
    const Case cases[] = {
        {"missing", [] {}, 0},
        {"zero", [] { SetHklmDword(kSetupSettingsKey, L"fAllowDebugPrint", 0); }, 0},
        {"one", [] { SetHklmDword(kSetupSettingsKey, L"fAllowDebugPrint", 1); }, 1},
        {"all bits", [] { SetHklmDword(kSetupSettingsKey, L"fAllowDebugPrint", 0xFFFFFFFF); }, 1},
        {"string", [] { SetHklmString(kSetupSettingsKey, L"fAllowDebugPrint", L"1"); }, 0},
        {"quad word",
         [] {
             const DWORD64 one = 1;
             SetHklmValue(kSetupSettingsKey, L"fAllowDebugPrint", REG_QWORD, &one, sizeof(one));
         },
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteHklmTree(kSetupSettingsKey);
        c.arrange();
        TraceEnabled = 1 - c.enabled;  // the load must overwrite whatever was there
        LoadSetupSettings();
        EXPECT_EQ(TraceEnabled, c.enabled);
    }
}

TEST_F(SettingsTest, SleepTimeIsZeroUnlessADoubleWord) {
    EXPECT_EQ(LoadSetupSettings().dwSleepTime, 0u);
    EXPECT_TRUE(HklmKeyExists(kSetupSettingsKey)) << "the first read creates the key";
    SetHklmString(kSetupSettingsKey, L"dwSleepTime", L"5000");
    EXPECT_EQ(LoadSetupSettings().dwSleepTime, 0u);
    SetHklmDword(kSetupSettingsKey, L"dwSleepTime", 5000);
    EXPECT_EQ(LoadSetupSettings().dwSleepTime, 5000u);
}

}  // namespace
