// Which cabinet file names may be written, and the bounds of joining and splitting ANSI paths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "payload/cabinet_names.h"

namespace {

TEST(CabinetEntryName, NamesInsideTheFolderAreAccepted) {
    for (const char* name : {"setup.exe", "sub\\file.txt", "sub/file.txt", "a..b.txt", "..a", ".hidden", "a.",
                             "console.txt", "COM0", "LPT10", "com1x.dll", "nullable", "a\\\\b"}) {
        EXPECT_TRUE(IsSafeCabinetEntryName(name)) << name;
    }
}

TEST(CabinetEntryName, NamesLeavingTheFolderOrNamingNoFileAreRefused) {
    for (const char* name : {"", "..", "..\\x", "a\\..\\..\\x", "a/../x", "x\\..", ". .\\x", "...\\x", ".\\x",
                             "\\x", "/x", "\\\\server\\share\\x", "C:x", "C:\\x", "x:stream", "x::$DATA",
                             "CON", "con.txt", "sub\\Aux", "NUL .txt", "com1", "LPT9.log", "x\\", "x/"}) {
        EXPECT_FALSE(IsSafeCabinetEntryName(name)) << name;
    }
    EXPECT_FALSE(IsSafeCabinetEntryName(nullptr));
}

TEST(CabinetPathJoin, FitsUpTo259BytesAndNeverWritesPastTheBuffer) {
    char out[262];
    std::memset(out, '#', sizeof(out));
    const std::string folder = "C:\\work\\";
    const std::string fits(259 - folder.size(), 'f');
    ASSERT_TRUE(JoinCabinetPath(out, 260, folder.c_str(), fits.c_str()));
    EXPECT_EQ(std::string(out), folder + fits);
    EXPECT_EQ(out[260], '#');

    const std::string tooLong(260 - folder.size(), 'g');
    EXPECT_FALSE(JoinCabinetPath(out, 260, folder.c_str(), tooLong.c_str()));
    EXPECT_STREQ(out, "");
    EXPECT_EQ(out[260], '#');
    EXPECT_FALSE(JoinCabinetPath(out, 260, std::string(300, 'h').c_str(), "x"));
}

TEST(ContainerPathSplit, NameAfterTheLastBackslashAndPathKeepingIt) {
    char name[260];
    char path[260];
    ASSERT_TRUE(SplitContainerPath("C:\\Temp\\_IS1.tmp\\qarv2009Setup.dat", name, path, 260));
    EXPECT_STREQ(name, "qarv2009Setup.dat");
    EXPECT_STREQ(path, "C:\\Temp\\_IS1.tmp\\");

    ASSERT_TRUE(SplitContainerPath("qarv2009Setup.dat", name, path, 260));
    EXPECT_STREQ(name, "qarv2009Setup.dat");
    EXPECT_STREQ(path, "");

    ASSERT_TRUE(SplitContainerPath("C:\\folder\\", name, path, 260));
    EXPECT_STREQ(name, "");
    EXPECT_STREQ(path, "C:\\folder\\");

    EXPECT_FALSE(SplitContainerPath(("C:\\" + std::string(300, 'n')).c_str(), name, path, 260));
    EXPECT_STREQ(name, "");
    EXPECT_STREQ(path, "");
}

}  // namespace
