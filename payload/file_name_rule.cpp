// The shared file-name rule.
#include "payload/file_name_rule.h"

#include <iterator>

namespace qarv {
namespace {

struct CaseRun {
    char16_t first;
    char16_t last;
    int step;
    int delta;
};

constexpr CaseRun kCaseRuns[] = {
#include "payload/name_case_table.inc"
};

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The last component of a name: what follows its last separator.
std::u16string_view LastComponent(std::u16string_view name) {
    size_t start = name.size();
    while (start > 0 && !IsSeparator(name[start - 1])) --start;
    return name.substr(start);
}

bool IsDotsAndSpacesOnly(std::u16string_view component) {
    for (char16_t c : component) {
        if (c != u'.' && c != u' ') return false;
    }
    return true;
}

bool IsForbidden(char16_t c) {
    return c < 0x20 || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*';
}

// The part before the first dot, trailing spaces dropped, upper case: what Windows matches against
// its device names ("nul .txt" and "Con" open devices).
std::u16string DeviceStem(std::u16string_view component) {
    std::u16string_view stem = component.substr(0, component.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
    std::u16string upper;
    for (char16_t c : stem) upper.push_back(UpperCaseForNames(c));
    return upper;
}

bool IsDeviceName(std::u16string_view component) {
    const std::u16string stem = DeviceStem(component);
    if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL" || stem == u"CONIN$" ||
        stem == u"CONOUT$") {
        return true;
    }
    if (stem.size() != 4) return false;
    const std::u16string_view prefix(stem.data(), 3);
    if (prefix != u"COM" && prefix != u"LPT") return false;
    // Superscript one, two and three name ports as well as the digits do.
    const char16_t port = stem[3];
    return (port >= u'1' && port <= u'9') || port == u'\u00B9' || port == u'\u00B2' || port == u'\u00B3';
}

// "SETUP~1.EXE": up to six characters, a tilde and digits, then up to three for the extension.
bool IsShortNameShaped(std::u16string_view name) {
    const size_t tilde = name.find(u'~');
    if (tilde == std::u16string_view::npos || tilde == 0 || tilde > 6) return false;
    const size_t dot = name.find(u'.', tilde);
    const std::u16string_view digits = name.substr(tilde + 1, dot == std::u16string_view::npos ? dot : dot - tilde - 1);
    if (digits.empty() || digits.size() > 6) return false;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9') return false;
    }
    return dot == std::u16string_view::npos || (name.size() - dot - 1 <= 3 && name.find(u'.', dot + 1) == std::u16string_view::npos);
}

// A name the file system must give a short alias: too long for 8.3, or with a space, more than one
// dot, or a character outside ASCII.
bool NeedsShortAlias(std::u16string_view name) {
    const size_t dot = name.rfind(u'.');
    const size_t stemLength = dot == std::u16string_view::npos ? name.size() : dot;
    const size_t extensionLength = dot == std::u16string_view::npos ? 0 : name.size() - dot - 1;
    if (stemLength == 0 || stemLength > 8 || extensionLength > 3) return true;
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        if (c == u' ' || c >= 0x80 || c == u'+' || c == u',' || c == u';' || c == u'=' || c == u'[' || c == u']') return true;
        if (c == u'.' && i != dot) return true;
    }
    return false;
}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

}  // namespace

const char* DescribeNameProblem(NameProblem problem) {
    switch (problem) {
    case NameProblem::kNone: return "is a valid file name";
    case NameProblem::kEmpty: return "names no file";
    case NameProblem::kLeavesFolder: return "leaves the work folder (an absolute path, or a part of only dots and spaces)";
    case NameProblem::kColon: return "has a ':' (a drive or a stream name)";
    case NameProblem::kForbiddenCharacter: return "has a character Windows does not allow in a file name";
    case NameProblem::kDeviceName: return "is a device name Windows reserves (CON, NUL, COM1, LPT1, ...)";
    case NameProblem::kContainerName:
        return "is the launcher's own container file, qarv2009Setup.dat, or its 8.3 alias QARV20~1.DAT";
    case NameProblem::kSameFile: return "is the same file to Windows as an earlier name (case, trailing dots or spaces)";
    case NameProblem::kShortNameAlias: return "is shaped like the 8.3 short name Windows may give another file";
    case NameProblem::kNotUtf8: return "is flagged UTF-8 but is not valid UTF-8";
    case NameProblem::kDependsOnCodePage:
        return "has bytes of 0x80 and above without the UTF-8 flag: Windows reads such a name in the PC's ANSI code "
               "page, which differs from PC to PC (flag it UTF-8, as gcab does)";
    }
    return "is refused";
}

char16_t UpperCaseForNames(char16_t unit) {
    if (unit < 0x80) return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - 32) : unit;
    for (const CaseRun& run : kCaseRuns) {
        if (unit < run.first) break;  // the runs are in ascending order
        if (unit <= run.last && (unit - run.first) % run.step == 0) return static_cast<char16_t>(unit + run.delta);
    }
    return unit;
}

NameProblem CheckEntryName(std::u16string_view name) {
    if (name.empty()) return NameProblem::kEmpty;
    if (IsSeparator(name.front())) return NameProblem::kLeavesFolder;
    if (name.find(u':') != std::u16string_view::npos) return NameProblem::kColon;
    for (char16_t c : name) {
        if (IsForbidden(c)) return NameProblem::kForbiddenCharacter;
    }
    if (IsSeparator(name.back())) return NameProblem::kEmpty;
    // A name of only dots and spaces has no stored form; the component loop below says which it is.
    const std::u16string_view stored = IsDotsAndSpacesOnly(LastComponent(name)) ? name : StoredName(name);
    bool singleComponent = true;
    size_t start = 0;
    while (start <= stored.size()) {
        size_t end = start;
        while (end < stored.size() && !IsSeparator(stored[end])) ++end;
        const std::u16string_view component = stored.substr(start, end - start);
        // An empty component ("a\\b") is harmless.
        if (!component.empty()) {
            if (IsDotsAndSpacesOnly(component)) return NameProblem::kLeavesFolder;
            if (IsDeviceName(component)) return NameProblem::kDeviceName;
        }
        if (end == stored.size()) break;
        singleComponent = false;
        start = end + 1;
    }
    // On a volume that makes 8.3 names the container, the first file of a new work folder, is also
    // QARV20~1.DAT: a payload file of that name would be the container on some PCs and not on others.
    if (singleComponent && (IsSameFileName(stored, kContainerFileName) || IsSameFileName(stored, kContainerShortName))) {
        return NameProblem::kContainerName;
    }
    return NameProblem::kNone;
}

std::u16string_view StoredName(std::u16string_view name) {
    while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.remove_suffix(1);
    return name;
}

std::u16string ComparableName(std::u16string_view name) {
    name = StoredName(name);
    std::u16string comparable;
    comparable.reserve(name.size());
    for (char16_t c : name) comparable.push_back(IsSeparator(c) ? u'\\' : UpperCaseForNames(c));
    return comparable;
}

bool IsSameFileName(std::u16string_view first, std::u16string_view second) {
    return ComparableName(first) == ComparableName(second);
}

bool DecodeCabinetName(std::string_view bytes, bool utf8Flagged, std::u16string& decoded) {
    decoded.clear();
    if (!utf8Flagged) {
        for (char c : bytes) decoded.push_back(static_cast<unsigned char>(c));
        return true;
    }
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        size_t length = 0;
        char32_t code = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            length = 1, code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, code = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code = lead & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (i + length > bytes.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char trail = static_cast<unsigned char>(bytes[i + k]);
            if ((trail & 0xC0) != 0x80) return false;
            code = (code << 6) | (trail & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode are not UTF-8.
        if (code < minimum || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) return false;
        if (code >= 0x10000) {
            decoded.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            decoded.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            decoded.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return true;
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        AppendUtf8(out, code);
    }
    return out;
}

std::vector<NamedProblem> CheckPayloadNames(const std::vector<std::u16string>& names) {
    std::vector<NamedProblem> problems;
    std::vector<std::u16string> comparable;
    // The launcher's container shares the work folder with the payload, and its name is always a
    // long one: on a file system that makes 8.3 aliases it has one of its own (QARV20~1.DAT).
    bool anyNeedsAlias = NeedsShortAlias(kContainerFileName);
    for (const std::u16string& name : names) {
        comparable.push_back(ComparableName(name));
        anyNeedsAlias = anyNeedsAlias || NeedsShortAlias(LastComponent(StoredName(name)));
    }
    for (size_t i = 0; i < names.size(); ++i) {
        const NameProblem own = CheckEntryName(names[i]);
        if (own != NameProblem::kNone) {
            problems.push_back({i, own, i});
            continue;
        }
        bool clash = false;
        for (size_t earlier = 0; earlier < i && !clash; ++earlier) {
            if (comparable[earlier] == comparable[i]) {
                problems.push_back({i, NameProblem::kSameFile, earlier});
                clash = true;
            }
        }
        // Which alias Windows gives a long name depends on the order files are created in: any
        // alias-shaped name beside a long one may meet it. Windows drops trailing dots and spaces
        // before it looks, so "SETUP~1.EXE " is that alias too.
        if (!clash && anyNeedsAlias && IsShortNameShaped(LastComponent(StoredName(names[i])))) {
            problems.push_back({i, NameProblem::kShortNameAlias, i});
        }
    }
    return problems;
}

}  // namespace qarv
