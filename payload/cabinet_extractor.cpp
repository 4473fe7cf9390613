// Cabinet extraction through FDI, with the runtime library's allocator and low-level file calls
// (their wide forms where a path is opened) as FDI's memory and file callbacks.
#include "payload/cabinet_extractor.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string_view>
#include <type_traits>
#include <utility>

#include "common/platform_calls.h"
#include "common/system_library.h"
#include "common/unique_handle.h"
#include "payload/cabinet_names.h"
#include "payload/file_name_rule.h"

namespace qarv {

wchar_t ContainerPath[kCabinetPathCapacity];
wchar_t CabinetDestFolder[kCabinetFolderCapacity];
wchar_t LastExtractedPath[kCabinetFolderCapacity];
CabinetFileProgress CurrentFileProgress;

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the file-name rule reads Windows' UTF-16 names");

// _O_EXCL: a file that already exists under any name Windows takes for the same one (case,
// trailing dots and spaces, a short alias, the container itself) is never written over. The work
// folder is new for each run, so a sound cabinet never meets one.
constexpr int kCreateFlags = _O_BINARY | _O_CREAT | _O_EXCL | _O_WRONLY | _O_SEQUENTIAL;  // 0x8521
constexpr int kCreateMode = _S_IREAD | _S_IWRITE;                                           // 0x180
constexpr int kContainerOpenFlags = _O_BINARY | _O_SEQUENTIAL;                              // 0x8020, read-only
// Of a cabinet file's attributes only read-only, hidden, system and archive are applied.
constexpr USHORT kAppliedAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
static_assert(kAppliedAttributes == 0x27, "the four attribute bits a cabinet entry carries over");

static_assert(std::is_same_v<decltype(&FDIDestroy), qarv::UniqueFdiContext::DestroyFunction>,
              "the context owner calls FDIDestroy as Cabinet.dll exports it");

// FDI's seven memory and file callbacks, in FDICreate's order. FDI opens only the cabinet through
// them; the files it extracts are created by CabinetNotify.
FNALLOC(FdiAllocate) { return std::malloc(cb); }
FNFREE(FdiFree) { std::free(pv); }
FNOPEN(FdiOpen) {
    if (pszFile == nullptr || std::strcmp(pszFile, kContainerToken) != 0) return -1;
    return _wopen(ContainerPath, oflag, pmode);
}
FNREAD(FdiRead) { return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb)); }
FNWRITE(FdiWrite) {
    const int written = _write(static_cast<int>(hf), pv, cb);
    if (written < 0 || static_cast<UINT>(written) != cb) {
        CurrentFileProgress.failed = true;
    } else {
        CurrentFileProgress.written += static_cast<unsigned long>(written);
    }
    return static_cast<UINT>(written);
}
FNCLOSE(FdiClose) { return _close(static_cast<int>(hf)); }
FNSEEK(FdiSeek) { return _lseek(static_cast<int>(hf), dist, seektype); }

// Copies a wide path of at most kCabinetPathCapacity - 1 characters; false, with `out` empty, when longer.
bool CopyPath(wchar_t* out, const wchar_t* path) {
    out[0] = L'\0';
    const size_t length = wcsnlen(path, kCabinetPathCapacity);
    if (length >= kCabinetPathCapacity) return false;
    std::wmemcpy(out, path, length + 1);
    return true;
}

// The destination path of a cabinet file: its name decoded (UTF-8 when flagged, else the ANSI code
// page, as the system itself would read it), checked by the file-name rule and joined to the folder.
bool DestinationPath(const char* name, USHORT attributes, wchar_t (&path)[kCabinetPathCapacity]) {
    path[0] = L'\0';
    if (name == nullptr || name[0] == '\0') return false;
    wchar_t decoded[kCabinetPathCapacity] = {};
    const bool utf8 = (attributes & qarv::kCabinetNameIsUtf8) != 0;
    const int length = MultiByteToWideChar(utf8 ? CP_UTF8 : CP_ACP, utf8 ? MB_ERR_INVALID_CHARS : 0, name, -1,
                                           decoded, static_cast<int>(kCabinetPathCapacity));
    if (length <= 1) return false;
    const std::u16string_view ruleName(reinterpret_cast<const char16_t*>(decoded), static_cast<size_t>(length - 1));
    if (qarv::CheckEntryName(ruleName) != qarv::NameProblem::kNone) return false;
    return JoinCabinetPath(path, kCabinetPathCapacity, CabinetDestFolder, decoded);
}

// Sets creation and last-write time from the cabinet's local MS-DOS date and time, then the
// attributes. Neither failure fails the extraction; the attributes come last so that a read-only
// file still had a writable handle for its times.
void RestoreTimesAndAttributes(const wchar_t* path, USHORT date, USHORT time, USHORT attributes) {
    qarv::UniqueFile file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        FILETIME localTime = {};
        FILETIME utcTime = {};
        if (DosDateTimeToFileTime(date, time, &localTime) == 1 && LocalFileTimeToFileTime(&localTime, &utcTime) == 1) {
            SetFileTime(file.get(), &utcTime, nullptr, &utcTime);
        }
    }
    file.reset();
    SetFileAttributesW(path, attributes & kAppliedAttributes);
}

// Appends `path` to `created`; false, with the list as it was, when there is no memory for it.
// Called inside FDI's callback, where no exception may pass.
bool RecordCreatedFile(CreatedFiles& created, const wchar_t* path) noexcept {
    try {
        created.emplace_back(path);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

HMODULE LoadSystemCabinetLibrary() { return qarv::LoadSystemLibrary(L"Cabinet.dll").release(); }

int LoadCabinetLibrary(CabinetApi& api) {
    if (api.module) return 1;
    const auto loadLibrary = qarv::ReplacedOrReal(
        qarv::InstalledPlatformCalls<CabinetExtractorPlatformCalls>().loadCabinetLibrary, LoadSystemCabinetLibrary);
    qarv::UniqueModule module(loadLibrary());
    if (!module) return 0;
    const bool resolved = qarv::ResolveSystemEntry(module.get(), "FDICreate", api.fdiCreate) &
                          qarv::ResolveSystemEntry(module.get(), "FDICopy", api.fdiCopy) &
                          qarv::ResolveSystemEntry(module.get(), "FDIIsCabinet", api.fdiIsCabinet) &
                          qarv::ResolveSystemEntry(module.get(), "FDIDestroy", api.fdiDestroy);
    if (!resolved) {
        api.fdiCreate = nullptr;
        api.fdiCopy = nullptr;
        api.fdiIsCabinet = nullptr;
        api.fdiDestroy = nullptr;
        return 0;  // `module` unloads the library
    }
    api.module = std::move(module);
    return 1;
}

int OpenCabinet(CabinetApi& api, const wchar_t* containerPath) {
    if (!api.module || containerPath == nullptr) return 0;
    api.context.reset();
    api.error = ERF{};
    qarv::UniqueFdiContext context(api.fdiCreate(FdiAllocate, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek,
                                                 cpuUNKNOWN, &api.error),
                                   api.fdiDestroy);
    if (!context) return 0;

    // A path that does not fit is refused, as a cut one would name another file.
    std::wmemset(ContainerPath, 0, std::size(ContainerPath));
    if (!CopyPath(ContainerPath, containerPath)) return 0;

    const int descriptor = _wopen(ContainerPath, kContainerOpenFlags, 0);
    if (descriptor == -1) return 0;
    FDICABINETINFO info = {};
    const BOOL isCabinet = api.fdiIsCabinet(context.get(), descriptor, &info);
    _close(descriptor);
    if (!isCabinet) return 0;
    api.context = std::move(context);
    return 1;
}

int CopyCabinet(CabinetApi& api, const wchar_t* destinationFolder, wchar_t* programPath, CreatedFiles* created) {
    if (!api.module || !api.context || destinationFolder == nullptr || programPath == nullptr) {
        return 0;
    }
    // Room is left for the backslash appended below. A folder that does not fit is refused rather
    // than cut: a cut folder names another place on the disk.
    std::wmemset(CabinetDestFolder, 0, std::size(CabinetDestFolder));
    if (!CopyPath(CabinetDestFolder, destinationFolder)) return 0;
    const size_t folderLength = std::wcslen(CabinetDestFolder);
    if (folderLength == 0) return 0;
    std::wmemset(LastExtractedPath, 0, std::size(LastExtractedPath));
    CurrentFileProgress = CabinetFileProgress{};
    if (CabinetDestFolder[folderLength - 1] != L'\\') {
        CabinetDestFolder[folderLength] = L'\\';
        CabinetDestFolder[folderLength + 1] = L'\0';
    }

    // FDI joins path and name and hands the result to FdiOpen, which knows the container by it.
    char cabinetName[sizeof(kContainerToken)];
    std::memcpy(cabinetName, kContainerToken, sizeof(kContainerToken));
    char cabinetPath[] = "";
    if (api.fdiCopy(api.context.get(), cabinetName, cabinetPath, 0, CabinetNotify, nullptr, created) != 1) return 0;
    // The library may carry on past a short write or a file it could not finish; the count decides.
    if (CurrentFileProgress.failed) return 0;
    // Nothing to start: a cabinet without files is no installer.
    if (LastExtractedPath[0] == L'\0') return 0;

    std::wcsncpy(programPath, LastExtractedPath, kProgramPathCapacity - 1);
    programPath[kProgramPathCapacity - 1] = L'\0';
    return 1;
}

INT_PTR DIAMONDAPI CabinetNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification) {
    switch (type) {
    case fdintCOPY_FILE: {
        wchar_t path[kCabinetPathCapacity];
        if (!DestinationPath(notification->psz1, notification->attribs, path)) return -1;
        CurrentFileProgress.expected = static_cast<unsigned long>(notification->cb);
        CurrentFileProgress.written = 0;
        // Recorded before it exists, so that no file of the run is ever missing from the list.
        auto* created = static_cast<CreatedFiles*>(notification->pv);
        if (created != nullptr && !RecordCreatedFile(*created, path)) return -1;
        int descriptor = _wopen(path, kCreateFlags, kCreateMode);
        if (descriptor == -1) {
            if (created != nullptr) created->pop_back();
            return -1;
        }
        // 0 would tell FDI to skip the file: it would stay empty, and the next one be the program.
        if (descriptor == 0) {
            descriptor = _dup(0);
            _close(0);
        }
        return descriptor;
    }
    case fdintCLOSE_FILE_INFO: {
        wchar_t path[kCabinetPathCapacity];
        // The same name was accepted for the copy; the check only keeps the buffer bound local.
        const bool joined = DestinationPath(notification->psz1, notification->attribs, path);
        const bool closed = _close(static_cast<int>(notification->hf)) == 0;
        // A full disk: the file is shorter than the cabinet says. It must not be taken for the program.
        if (!closed || CurrentFileProgress.written != CurrentFileProgress.expected) CurrentFileProgress.failed = true;
        if (!joined || CurrentFileProgress.failed) return FALSE;
        std::wmemcpy(LastExtractedPath, path, std::wcslen(path) + 1);
        RestoreTimesAndAttributes(path, notification->date, notification->time, notification->attribs);
        return 1;
    }
    // The container is one whole cabinet. A file that began in a previous cabinet cannot be
    // had; and the open callback opens nothing but the container, so FDI, which asks for the next
    // cabinet again each time it cannot be opened, would ask for good while the answer is 0.
    case fdintPARTIAL_FILE:
    case fdintNEXT_CABINET:
        return -1;
    // 0 goes on; -1 would abandon a sound cabinet.
    case fdintCABINET_INFO:
    case fdintENUMERATE:
    default:
        return 0;
    }
}

void ReleaseCabinetApi(CabinetApi& api) {
    api.context.reset();
    api.module.reset();
    api.fdiCreate = nullptr;
    api.fdiCopy = nullptr;
    api.fdiIsCabinet = nullptr;
    api.fdiDestroy = nullptr;
    api.error = ERF{};
}

int ExtractCabinet(const wchar_t* containerPath, const wchar_t* workFolder, wchar_t* programPath,
                   CreatedFiles* created) {
    CabinetApi api;
    qarv::ScopeExit release([&api] { ReleaseCabinetApi(api); });
    try {
        LoadCabinetLibrary(api);
        if (!OpenCabinet(api, containerPath)) return 0;
        return CopyCabinet(api, workFolder, programPath, created);
    } catch (...) {
        return 0;
    }
}

}  // namespace qarv
