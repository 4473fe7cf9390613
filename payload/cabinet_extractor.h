// Extracting the container cabinet into the work folder through the system's Cabinet.dll.
#pragma once

// Size of the ANSI buffer that receives the extracted program's path, terminator included.
constexpr int kProgramPathCapacity = 260;

// Extracts `containerPath` into `workFolder`. On success returns non-zero and writes to
// `programPath` (kProgramPathCapacity bytes) the ANSI path of the file completed last.
int ExtractCabinet(const wchar_t* containerPath, const wchar_t* workFolder, char* programPath);
