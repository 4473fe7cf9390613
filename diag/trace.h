// Diagnostic trace lines to the debugger output stream, gated by a process-wide flag.
#pragma once

#include <windows.h>

namespace qarv {

// 0 at process start; set once per run by LoadSetupSettings on the setup worker thread.
extern DWORD TraceEnabled;

// Longest trace line, terminator included. A longer line is cut to kTraceLineCapacity - 1
// characters; it never overruns the buffer.
constexpr int kTraceLineCapacity = 4096;

// Formats one line with Microsoft's printf rules (%s in a wide format takes a wide string) and
// hands it to OutputDebugStringW. Does nothing, not even the formatting, while TraceEnabled is 0.
void WriteTrace(const wchar_t* format, ...);

// The formatting step of WriteTrace, open to tests: fills `buffer` (kTraceLineCapacity characters)
// and returns the length written.
int FormatTraceLine(wchar_t* buffer, const wchar_t* format, va_list args);

}  // namespace qarv
