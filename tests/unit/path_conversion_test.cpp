// ANSI to wide conversion of the extracted program's path: bounds and termination.
#include <gtest/gtest.h>

#include <string>

#include "setup/path_conversion.h"

namespace {

TEST(AnsiPathToWide, ConvertsAndTerminates) {
    wchar_t wide[kWidePathCapacity];
    wmemset(wide, L'#', kWidePathCapacity);
    ASSERT_EQ(AnsiPathToWide("C:\\Temp\\_IS1234.tmp\\setup.exe", wide), 1);
    EXPECT_STREQ(wide, L"C:\\Temp\\_IS1234.tmp\\setup.exe");
}

TEST(AnsiPathToWide, LongPathsAreCutToTheBufferAndStayTerminated) {
    struct Case {
        size_t length;
        size_t expected;
    };
    for (const Case& c : {Case{1023, 1023}, Case{1024, 1023}, Case{5000, 1023}, Case{0, 0}}) {
        SCOPED_TRACE(c.length);
        const std::string ansi(c.length, 'a');
        wchar_t wide[kWidePathCapacity + 8];
        wmemset(wide, L'#', kWidePathCapacity + 8);
        ASSERT_EQ(AnsiPathToWide(ansi.c_str(), wide), 1);
        EXPECT_EQ(wcslen(wide), c.expected);
        EXPECT_EQ(wide[kWidePathCapacity], L'#') << "nothing is written past the buffer";
    }
}

TEST(AnsiPathToWide, NoInputIsAFailure) {
    wchar_t wide[kWidePathCapacity];
    EXPECT_EQ(AnsiPathToWide(nullptr, wide), 0);
}

}  // namespace
