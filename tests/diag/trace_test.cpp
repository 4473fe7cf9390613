// The trace writer's formatting: Microsoft's %s, %08X, the 4,096-character bound, and the gate.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "diag/trace.h"

using namespace qarv;

namespace {

std::wstring Format(const wchar_t* format, ...) {
    wchar_t buffer[kTraceLineCapacity];
    va_list args;
    va_start(args, format);
    FormatTraceLine(buffer, format, args);
    va_end(args);
    return buffer;
}

TEST(TraceFormat, PercentSTakesAWideString) {
    EXPECT_EQ(Format(L"VURoruz: Executing %s ...\n", L"C:\\Temp\\Khởi.exe"), L"VURoruz: Executing C:\\Temp\\Khởi.exe ...\n");
}

TEST(TraceFormat, HexIsEightUpperCaseDigits) {
    EXPECT_EQ(Format(L"error: %08X\n", 2u), L"error: 00000002\n");
    EXPECT_EQ(Format(L"error: %08X\n", 0xC0000005u), L"error: C0000005\n");
}

TEST(TraceFormat, OverlongLineIsCutInsideTheBuffer) {
    const std::wstring path(10000, L'x');
    const std::wstring line = Format(L"VURoruz: Executing %s ...\n", path.c_str());
    EXPECT_EQ(line.size(), static_cast<size_t>(kTraceLineCapacity - 1));
    EXPECT_EQ(line.substr(0, 19), L"VURoruz: Executing ");
}

}  // namespace
