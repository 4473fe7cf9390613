// The file-name rule the launcher, the packer and the inspector share: tables of names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/file_name_rule.h"

using namespace qarv;

namespace {

using qarv::CheckEntryName;
using qarv::NameProblem;

std::string Shown(const std::u16string& name) { return qarv::ToUtf8(name); }

TEST(FileNameRule, NamesInsideTheFolderAreAccepted) {
    for (const char16_t* name : {u"setup.exe", u"sub\\file.txt", u"sub/file.txt", u"a..b.txt", u"..a", u".hidden", u"a.",
                                 u"console.txt", u"COM0", u"LPT10", u"com1x.dll", u"nullable", u"a\\\\b", u"café.txt",
                                 u"Học Sinh.txt", u"COM\u2074", u"conin", u"qarv2009Setup.dat.bak", u"sub\\qarv2009Setup.dat",
                                 u"SETUP~1.EXE", u"\U0001F600.txt"}) {
        EXPECT_EQ(CheckEntryName(name), NameProblem::kNone) << Shown(name);
    }
}

TEST(FileNameRule, NamesLeavingTheFolderOrNamingNoFileAreRefused) {
    struct Case {
        const char16_t* name;
        NameProblem problem;
    };
    const Case cases[] = {
        {u"", NameProblem::kEmpty}, {u"x\\", NameProblem::kEmpty}, {u"x/", NameProblem::kEmpty},
        {u"..", NameProblem::kLeavesFolder}, {u"..\\x", NameProblem::kLeavesFolder},
        {u"a\\..\\..\\x", NameProblem::kLeavesFolder}, {u"a/../x", NameProblem::kLeavesFolder},
        {u"x\\..", NameProblem::kLeavesFolder}, {u". .\\x", NameProblem::kLeavesFolder},
        {u"...", NameProblem::kLeavesFolder}, {u" ", NameProblem::kLeavesFolder}, {u".\\x", NameProblem::kLeavesFolder},
        {u"\\x", NameProblem::kLeavesFolder}, {u"/x", NameProblem::kLeavesFolder},
        {u"\\\\server\\share\\x", NameProblem::kLeavesFolder},
        {u"C:x", NameProblem::kColon}, {u"C:\\x", NameProblem::kColon}, {u"x:stream", NameProblem::kColon},
        {u"x::$DATA", NameProblem::kColon},
        {u"a<b", NameProblem::kForbiddenCharacter}, {u"a?", NameProblem::kForbiddenCharacter},
        {u"a*", NameProblem::kForbiddenCharacter}, {u"a\"b", NameProblem::kForbiddenCharacter},
        {u"a|b", NameProblem::kForbiddenCharacter}, {u"tab\there", NameProblem::kForbiddenCharacter},
        {u"CON", NameProblem::kDeviceName}, {u"con.txt", NameProblem::kDeviceName}, {u"sub\\Aux", NameProblem::kDeviceName},
        {u"NUL .txt", NameProblem::kDeviceName}, {u"nul.", NameProblem::kDeviceName}, {u"com1", NameProblem::kDeviceName},
        {u"LPT9.log", NameProblem::kDeviceName}, {u"aux.h", NameProblem::kDeviceName}, {u"COM1.log", NameProblem::kDeviceName},
        {u"COM\u00B9", NameProblem::kDeviceName}, {u"com\u00B2.txt", NameProblem::kDeviceName},
        {u"LPT\u00B3", NameProblem::kDeviceName}, {u"CONIN$", NameProblem::kDeviceName},
        {u"conout$.txt", NameProblem::kDeviceName},
        {u"qarv2009Setup.dat", NameProblem::kContainerName}, {u"QARV2009SETUP.DAT", NameProblem::kContainerName},
        {u"qarv2009setup.dat. ", NameProblem::kContainerName},
        // The container's 8.3 alias, and names Windows stores as it or as a device.
        {u"QARV20~1.DAT", NameProblem::kContainerName}, {u"qarv20~1.dat. ", NameProblem::kContainerName},
        {u"QARV20~1.DAT.", NameProblem::kContainerName}, {u"CON. ", NameProblem::kDeviceName},
    };
    for (const Case& c : cases) EXPECT_EQ(CheckEntryName(c.name), c.problem) << Shown(c.name);
}

TEST(FileNameRule, ComparesNamesAsWindowsDoes) {
    const std::pair<const char16_t*, const char16_t*> same[] = {
        {u"data.bin", u"data.bin."}, {u"data.bin", u"data.bin "}, {u"data.bin", u"data.bin. . "},
        {u"Setup.ini", u"SETUP.INI"}, {u"État.dat", u"état.dat"}, {u"HỌC.txt", u"học.txt"}, {u"Ăn", u"ăn"},
        {u"ΣΟΦΊΑ", u"σοφία"}, {u"Файл", u"файл"}, {u"ＡＢＣ", u"ａｂｃ"}, {u"ễ", u"Ễ"},
    };
    for (const auto& pair : same) EXPECT_TRUE(qarv::IsSameFileName(pair.first, pair.second)) << Shown(pair.first);
    const std::pair<const char16_t*, const char16_t*> different[] = {
        {u"data.bin", u".data.bin"}, {u"data.bin", u" data.bin"}, {u"bād", u"bad"}, {u"ı", u"I"}, {u"ſ", u"S"},
        {u"K", u"\u212A"}, {u"cafe", u"café"}, {u"ＡＢＣ", u"ABC"},
    };
    for (const auto& pair : different) EXPECT_FALSE(qarv::IsSameFileName(pair.first, pair.second)) << Shown(pair.first);
}

TEST(FileNameRule, CabinetNamesDecodeAsFlagged) {
    std::u16string decoded;
    ASSERT_TRUE(qarv::DecodeCabinetName("caf\xC3\xA9.txt", true, decoded));
    EXPECT_EQ(decoded, u"café.txt");
    ASSERT_TRUE(qarv::DecodeCabinetName("\xF0\x9F\x98\x80", true, decoded));
    EXPECT_EQ(decoded, u"\U0001F600");
    // Without the flag each byte stands for itself.
    ASSERT_TRUE(qarv::DecodeCabinetName("caf\xC3\xA9", false, decoded));
    EXPECT_EQ(decoded, u"caf\u00C3\u00A9");
    // Not UTF-8: a lone trail byte, a cut sequence, an overlong '/', an encoded surrogate.
    for (const char* bad : {"\x80", "caf\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        EXPECT_FALSE(qarv::DecodeCabinetName(bad, true, decoded)) << bad;
    }
    EXPECT_EQ(qarv::ToUtf8(u"Học Sinh \U0001F600"), "H\xE1\xBB\x8D\x63 Sinh \xF0\x9F\x98\x80");
}

TEST(FileNameRule, APayloadWithNamesOfOneFileIsRefusedAtTheSecond) {
    struct Case {
        std::vector<std::u16string> names;
        size_t index;
        NameProblem problem;
        size_t clashesWith;
    };
    const Case cases[] = {
        {{u"data.bin", u"data.bin."}, 1, NameProblem::kSameFile, 0},
        {{u"Setup.ini", u"readme.txt", u"SETUP.INI"}, 2, NameProblem::kSameFile, 0},
        {{u"État.dat", u"état.dat"}, 1, NameProblem::kSameFile, 0},
        {{u"a.txt", u"qarv2009Setup.dat"}, 1, NameProblem::kContainerName, 1},
        {{u"Qarv2009Install.exe", u"QARV20~1.EXE"}, 1, NameProblem::kShortNameAlias, 1},
        // Only 8.3 names in the payload, but the container beside them has an alias.
        {{u"QARV20~1.DAT", u"SETUP.EXE"}, 0, NameProblem::kContainerName, 0},
        {{u"SETUP~1.EXE", u"DATA.BIN"}, 0, NameProblem::kShortNameAlias, 0},
        // Shaped like an alias once Windows drops the trailing dots and spaces.
        {{u"Qarv2009Install.exe", u"SETUP~1.EXE "}, 1, NameProblem::kShortNameAlias, 1},
        {{u"QARV20~1.EXE.", u"SETUP.EXE"}, 0, NameProblem::kShortNameAlias, 0},
        {{u"nul.txt", u"setup.exe"}, 0, NameProblem::kDeviceName, 0},
    };
    for (const Case& c : cases) {
        const auto problems = qarv::CheckPayloadNames(c.names);
        ASSERT_EQ(problems.size(), 1u) << Shown(c.names[c.index]);
        EXPECT_EQ(problems[0].index, c.index);
        EXPECT_EQ(problems[0].problem, c.problem);
        EXPECT_EQ(problems[0].clashesWith, c.clashesWith);
    }
    // Distinct names, none shaped like an alias, pass.
    EXPECT_TRUE(qarv::CheckPayloadNames({u"SETUP.EXE", u"DATA.BIN"}).empty());
    EXPECT_TRUE(qarv::CheckPayloadNames({u"café.txt", u"cafe.txt", u"install.ini", u"Qarv2009Install.exe"}).empty());
}

}  // namespace
