// The one rule for the names a cabinet may give its files, shared by the launcher, the packer and
// the inspector: which names the launcher refuses, and when two names are one file to Windows.
// Pure: no Windows calls, so the Linux build tools compile the same code.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qarv {

// The launcher's work-folder container. A cabinet file of this name would be written over the
// cabinet the library is still reading.
constexpr char16_t kContainerFileName[] = u"qarv2009Setup.dat";
// The container's 8.3 alias where the volume makes them: it is the first file of a new work folder.
constexpr char16_t kContainerShortName[] = u"QARV20~1.DAT";

// Cabinet attribute bit: the file's name is UTF-8, not in the system's ANSI code page.
constexpr unsigned kCabinetNameIsUtf8 = 0x80;

enum class NameProblem {
    kNone,
    kEmpty,               // names no file ("", or ends with a separator)
    kLeavesFolder,        // absolute, drive-qualified, or a component of dots and spaces ("..", ". .")
    kColon,               // a drive letter or an alternate data stream
    kForbiddenCharacter,  // a control character or one of < > " | ? *
    kDeviceName,          // CON, NUL, COM1, LPT¹, CONIN$, ... with any extension
    kContainerName,       // the launcher's own container or its 8.3 alias, in any case or spelling
    kSameFile,            // the same file as an earlier name (case, trailing dots or spaces)
    kShortNameAlias,      // shaped like another file's 8.3 short name ("SETUP~1.EXE")
    kNotUtf8,             // flagged UTF-8 but not valid UTF-8
    kDependsOnCodePage,   // not flagged UTF-8, with bytes of 0x80 and above: read in each PC's ANSI code page
};

// A sentence for the user of a tool: "is a device name Windows reserves", ...
const char* DescribeNameProblem(NameProblem problem);

// The launcher's rule for one name, as the cabinet library hands it over after decoding (UTF-16).
// Both '\' and '/' separate components; every component is checked. Names with folder parts pass
// here: whether the folder exists is the file system's business. Every rule reads the name as
// Windows stores it (StoredName): "QARV20~1.DAT." is the container's alias, "CON " a device.
NameProblem CheckEntryName(std::u16string_view name);

// The name as Windows stores it: trailing dots and spaces dropped, as path normalisation drops
// them from the last component.
// https://learn.microsoft.com/dotnet/standard/io/file-path-formats#trim-characters
std::u16string_view StoredName(std::u16string_view name);

// The name as Windows compares it: trailing dots and spaces dropped, every letter upper case
// (beyond ASCII too: "état.dat" and "ÉTAT.DAT" are one file).
std::u16string ComparableName(std::u16string_view name);
bool IsSameFileName(std::u16string_view first, std::u16string_view second);

// Upper case of one UTF-16 code unit, as file-name comparison uses it.
char16_t UpperCaseForNames(char16_t unit);

// Decodes a cabinet name: UTF-8 when `utf8Flagged`, otherwise each byte as its own character
// (ASCII is the same in every code page; the rest is a guess the tools can only make that way).
// False for a flagged name that is not valid UTF-8.
bool DecodeCabinetName(std::string_view bytes, bool utf8Flagged, std::u16string& decoded);

// UTF-16 to UTF-8, for messages.
std::string ToUtf8(std::u16string_view text);

// The tools' check of a whole payload, in cabinet order: for each name, its own problem or a clash
// with an earlier name. `clashesWith` gets the index of the earlier name for kSameFile, else the
// name's own index.
struct NamedProblem {
    std::size_t index = 0;
    NameProblem problem = NameProblem::kNone;
    std::size_t clashesWith = 0;
};
std::vector<NamedProblem> CheckPayloadNames(const std::vector<std::u16string>& names);

}  // namespace qarv
