// Cabinet extraction through FDI, with the runtime library's allocator and low-level file calls
// as FDI's memory and file callbacks.
#include "payload/cabinet_extractor.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "common/unique_handle.h"
#include "payload/cabinet_names.h"

char ContainerPathAnsi[260];
char CabinetDestFolder[262];
char LastExtractedPath[262];

namespace {

// Joined destination paths and the cabinet's own name and path fit in 259 bytes and a terminator.
constexpr size_t kAnsiPathCapacity = 260;
constexpr int kCreateFlags = _O_BINARY | _O_CREAT | _O_WRONLY | _O_SEQUENTIAL;  // 0x8121
constexpr int kCreateMode = _S_IREAD | _S_IWRITE;                                 // 0x180
constexpr int kContainerOpenFlags = _O_BINARY | _O_SEQUENTIAL;                    // 0x8020, read-only
// Of a cabinet file's attributes only read-only, hidden, system and archive are applied.
constexpr USHORT kAppliedAttributes = 0x27;

CabinetLibraryLoader g_cabinetLibraryLoader = LoadSystemCabinetLibrary;

// GetProcAddress into the entry's own type; the detour through void(*)() is the sanctioned cast
// between function pointer types.
template <typename Entry>
void ResolveEntry(HMODULE module, const char* name, Entry& entry) {
    entry = reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// FDI's seven memory and file callbacks, in FDICreate's order.
FNALLOC(FdiAllocate) { return std::malloc(cb); }
FNFREE(FdiFree) { std::free(pv); }
FNOPEN(FdiOpen) { return _open(pszFile, oflag, pmode); }
FNREAD(FdiRead) { return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb)); }
FNWRITE(FdiWrite) { return static_cast<UINT>(_write(static_cast<int>(hf), pv, cb)); }
FNCLOSE(FdiClose) { return _close(static_cast<int>(hf)); }
FNSEEK(FdiSeek) { return _lseek(static_cast<int>(hf), dist, seektype); }

// Sets creation and last-write time from the cabinet's local MS-DOS date and time, then the
// attributes. Neither failure fails the extraction; the attributes come last so that a read-only
// file still had a writable handle for its times.
void RestoreTimesAndAttributes(const char* path, USHORT date, USHORT time, USHORT attributes) {
    qarv::UniqueFile file(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        FILETIME localTime = {};
        FILETIME utcTime = {};
        if (DosDateTimeToFileTime(date, time, &localTime) == 1 && LocalFileTimeToFileTime(&localTime, &utcTime) == 1) {
            SetFileTime(file.get(), &utcTime, nullptr, &utcTime);
        }
    }
    file.reset();
    SetFileAttributesA(path, attributes & kAppliedAttributes);
}

}  // namespace

HMODULE LoadSystemCabinetLibrary() {
    wchar_t path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    static const wchar_t kName[] = L"\\Cabinet.dll";
    if (length == 0 || length + std::size(kName) > MAX_PATH) return nullptr;
    std::memcpy(path + length, kName, sizeof(kName));
    return LoadLibraryW(path);
}

void SetCabinetLibraryLoader(CabinetLibraryLoader loader) {
    g_cabinetLibraryLoader = loader != nullptr ? loader : LoadSystemCabinetLibrary;
}

void ResetCabinetLibraryLoader() { g_cabinetLibraryLoader = LoadSystemCabinetLibrary; }

int LoadCabinetLibrary(CabinetApi& api) {
    if (api.module != nullptr) return 1;
    qarv::UniqueModule module(g_cabinetLibraryLoader());
    if (!module) return 0;
    ResolveEntry(module.get(), "FDICreate", api.fdiCreate);
    ResolveEntry(module.get(), "FDICopy", api.fdiCopy);
    ResolveEntry(module.get(), "FDIIsCabinet", api.fdiIsCabinet);
    ResolveEntry(module.get(), "FDIDestroy", api.fdiDestroy);
    if (api.fdiCreate == nullptr || api.fdiCopy == nullptr || api.fdiIsCabinet == nullptr || api.fdiDestroy == nullptr) {
        api.fdiCreate = nullptr;
        api.fdiCopy = nullptr;
        api.fdiIsCabinet = nullptr;
        api.fdiDestroy = nullptr;
        return 0;  // `module` unloads the library
    }
    api.module = module.release();
    return 1;
}

int OpenCabinet(CabinetApi& api, const wchar_t* containerPath) {
    if (api.module == nullptr || containerPath == nullptr) return 0;
    ERF error = {};
    api.context = api.fdiCreate(FdiAllocate, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek,
                                cpuUNKNOWN, &error);
    if (api.context == nullptr) return 0;
    auto destroyContext = [&api] {
        api.fdiDestroy(api.context);
        api.context = nullptr;
    };

    // A path that does not fit is refused: a cut conversion leaves the buffer unterminated.
    std::memset(ContainerPathAnsi, 0, sizeof(ContainerPathAnsi));
    if (WideCharToMultiByte(CP_ACP, 0, containerPath, -1, ContainerPathAnsi, sizeof(ContainerPathAnsi), nullptr,
                            nullptr) == 0) {
        std::memset(ContainerPathAnsi, 0, sizeof(ContainerPathAnsi));
        destroyContext();
        return 0;
    }

    const int descriptor = _open(ContainerPathAnsi, kContainerOpenFlags, 0);
    if (descriptor == -1) {
        destroyContext();
        return 0;
    }
    FDICABINETINFO info = {};
    const BOOL isCabinet = api.fdiIsCabinet(api.context, descriptor, &info);
    _close(descriptor);
    if (!isCabinet) {
        destroyContext();
        return 0;
    }
    return 1;
}

int CopyCabinet(CabinetApi& api, const wchar_t* destinationFolder, char* programPath) {
    if (api.module == nullptr || api.context == nullptr || destinationFolder == nullptr || programPath == nullptr) {
        return 0;
    }
    // Converted with room for the backslash and terminator appended below. A folder that does not
    // fit is refused rather than cut: a cut folder names another place on the disk.
    std::memset(CabinetDestFolder, 0, sizeof(CabinetDestFolder));
    if (WideCharToMultiByte(CP_ACP, 0, destinationFolder, -1, CabinetDestFolder, 260, nullptr, nullptr) == 0) {
        std::memset(CabinetDestFolder, 0, sizeof(CabinetDestFolder));
        return 0;
    }
    const size_t folderLength = std::strlen(CabinetDestFolder);
    if (folderLength == 0) return 0;
    std::memset(LastExtractedPath, 0, sizeof(LastExtractedPath));
    if (CabinetDestFolder[folderLength - 1] != '\\') {
        CabinetDestFolder[folderLength] = '\\';
        CabinetDestFolder[folderLength + 1] = '\0';
    }

    // FDI joins path and name directly, so the path keeps its trailing backslash.
    char cabinetName[kAnsiPathCapacity] = {};
    char cabinetPath[kAnsiPathCapacity] = {};
    if (!SplitContainerPath(ContainerPathAnsi, cabinetName, cabinetPath, kAnsiPathCapacity)) return 0;

    if (api.fdiCopy(api.context, cabinetName, cabinetPath, 0, CabinetNotify, nullptr, nullptr) != 1) return 0;

    std::strncpy(programPath, LastExtractedPath, kProgramPathCapacity - 1);
    programPath[kProgramPathCapacity - 1] = '\0';
    return 1;
}

INT_PTR DIAMONDAPI CabinetNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification) {
    switch (type) {
    case fdintCOPY_FILE: {
        char path[kAnsiPathCapacity];
        if (!IsSafeCabinetEntryName(notification->psz1) ||
            !JoinCabinetPath(path, sizeof(path), CabinetDestFolder, notification->psz1)) {
            return -1;
        }
        return _open(path, kCreateFlags, kCreateMode);
    }
    case fdintCLOSE_FILE_INFO: {
        char path[kAnsiPathCapacity];
        // The same name was accepted for the copy; the check only keeps the buffer bound local.
        const bool joined = JoinCabinetPath(path, sizeof(path), CabinetDestFolder, notification->psz1);
        _close(static_cast<int>(notification->hf));
        if (!joined) return -1;
        std::memcpy(LastExtractedPath, path, std::strlen(path) + 1);
        RestoreTimesAndAttributes(path, notification->date, notification->time, notification->attribs);
        return 1;
    }
    case fdintCABINET_INFO:
    case fdintPARTIAL_FILE:
    case fdintNEXT_CABINET:
    case fdintENUMERATE:
    default:
        return 0;
    }
}

void ReleaseCabinetApi(CabinetApi& api) {
    if (api.context != nullptr && api.module != nullptr && api.fdiDestroy != nullptr) api.fdiDestroy(api.context);
    if (api.module != nullptr) FreeLibrary(api.module);
    api = CabinetApi{};
}

int ExtractCabinet(const wchar_t* containerPath, const wchar_t* workFolder, char* programPath) {
    CabinetApi api;
    qarv::ScopeExit release([&api] { ReleaseCabinetApi(api); });
    try {
        LoadCabinetLibrary(api);
        if (!OpenCabinet(api, containerPath)) return 0;
        return CopyCabinet(api, workFolder, programPath);
    } catch (...) {
        return 0;
    }
}
