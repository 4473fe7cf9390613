// How the destination path of a cabinet file is joined.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "payload/cabinet_names.h"

using namespace qarv;

namespace {

TEST(CabinetPathJoin, FitsExactlyOrIsRefusedEmpty) {
    wchar_t out[8];
    EXPECT_TRUE(JoinCabinetPath(out, 8, L"C:\\w\\", L"ab"));
    EXPECT_STREQ(out, L"C:\\w\\ab");
    EXPECT_FALSE(JoinCabinetPath(out, 8, L"C:\\w\\", L"abc"));  // eight characters need nine
    EXPECT_STREQ(out, L"");
    EXPECT_FALSE(JoinCabinetPath(out, 8, nullptr, L"a"));
    EXPECT_FALSE(JoinCabinetPath(out, 0, L"", L""));
}

}  // namespace
