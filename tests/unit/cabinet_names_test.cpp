// Which file names from a cabinet may be written into the destination folder.
#include <gtest/gtest.h>

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

}  // namespace
