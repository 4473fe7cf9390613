// The trace writer. Built with __USE_MINGW_ANSI_STDIO=0 so that _vsnwprintf is the system C
// runtime's, where %s in a wide format means a wide string.
#include "diag/trace.h"

#include <cstdarg>
#include <cstdio>

namespace qarv {

DWORD TraceEnabled = 0;

int FormatTraceLine(wchar_t* buffer, const wchar_t* format, va_list args) {
    // _vsnwprintf neither terminates nor reports a length when the text does not fit: it returns
    // a negative number. Terminate in the last place ourselves and keep the cut text.
    int written = _vsnwprintf(buffer, kTraceLineCapacity - 1, format, args);
    buffer[kTraceLineCapacity - 1] = L'\0';
    if (written < 0) written = kTraceLineCapacity - 1;
    buffer[written] = L'\0';
    return written;
}

void WriteTrace(const wchar_t* format, ...) {
    if (TraceEnabled == 0) return;
    wchar_t line[kTraceLineCapacity];
    va_list args;
    va_start(args, format);
    FormatTraceLine(line, format, args);
    va_end(args);
    OutputDebugStringW(line);
}

}  // namespace qarv
