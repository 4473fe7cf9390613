// Work-folder selection: the Windows drive's free space picks the temporary folder, a dated folder
// on a spare fixed drive, or a refusal.
#include "common/system_library.h"
#include "setup/work_folder.h"

#include <sddl.h>
#include <winternl.h>

#include <cwchar>
#include <vector>

#include "common/platform_calls.h"
#include "common/unique_handle.h"
#include "diag/trace.h"

namespace qarv {

namespace {

constexpr DWORD kWindowsDirectoryCapacity = 260;
constexpr DWORD kTemporaryPathCapacity = 1024;

// FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, as an access mask in the descriptor's text form.
constexpr const wchar_t* kReadAndExecuteRights = L"0x1200a9";

const WorkFolderPlatformCalls& PlatformCalls() { return qarv::InstalledPlatformCalls<WorkFolderPlatformCalls>(); }

// Free bytes available to the caller on `root`; false when the query fails.
bool FreeBytes(const std::wstring& root, ULONGLONG& freeBytes) {
    ULARGE_INTEGER available = {};
    const auto getDiskFreeSpaceEx = qarv::ReplacedOrReal(PlatformCalls().getDiskFreeSpaceEx, &GetDiskFreeSpaceExW);
    if (!getDiskFreeSpaceEx(root.c_str(), &available, nullptr, nullptr)) return false;
    freeBytes = available.QuadPart;
    return true;
}

// Equal without regard to case (ordinal, as the file system compares names).
bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// The long name of a fresh, empty temporary file "_IS????.tmp" in the user's temporary folder, or
// in `windowsDirectory`'s "Temp" when the user's lies where others may write; the empty string
// when any of the calls fails (the placeholder is then removed again).
std::wstring MakeTemporaryFolderName(const std::wstring& windowsDirectory) {
    wchar_t temporaryPath[kTemporaryPathCapacity] = {};
    const DWORD pathLength = GetTempPathW(kTemporaryPathCapacity, temporaryPath);
    if (pathLength == 0 || pathLength >= kTemporaryPathCapacity) return std::wstring();
    std::wstring folder(temporaryPath, pathLength);
    if (!FolderVolumeIsPrivate(folder)) {
        // The Windows folder's drive is the one whose free space chose this route, and it keeps
        // access lists wherever Windows runs.
        const std::wstring windowsTemp = windowsDirectory + L"Temp\\";
        WriteTrace(L"VURoruz: %s keeps no access lists or is remote; the work folder goes under %s\n",
                   folder.c_str(), windowsTemp.c_str());
        folder = windowsTemp;
    }

    // GetTempFileNameW writes up to MAX_PATH characters and refuses longer folders itself.
    wchar_t fileName[MAX_PATH] = {};
    if (GetTempFileNameW(folder.c_str(), L"_IS", 0, fileName) == 0) return std::wstring();

    wchar_t longName[kTemporaryPathCapacity] = {};
    const DWORD longLength = GetLongPathNameW(fileName, longName, kTemporaryPathCapacity);
    if (longLength == 0 || longLength >= kTemporaryPathCapacity) {
        DeleteFileW(fileName);
        return std::wstring();
    }
    return std::wstring(longName, longLength);
}

// "S-1-5-21-..." of the user the process runs as, or the empty string.
std::wstring CurrentUserSidString() {
    qarv::UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return std::wstring();
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size < sizeof(TOKEN_USER)) return std::wstring();
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return std::wstring();
    qarv::UniqueLocalMemory<wchar_t> text;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, text.put())) {
        return std::wstring();
    }
    return std::wstring(text.get());
}

// Whether the file system of the volume at `root` ("D:\\", with its backslash) keeps access lists;
// false when it cannot be read.
bool KeepsAccessLists(const std::wstring& root) {
    const auto getVolumeInformation =
        qarv::ReplacedOrReal(PlatformCalls().getVolumeInformation, &GetVolumeInformationW);
    DWORD flags = 0;
    if (!getVolumeInformation(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) return false;
    return (flags & FILE_PERSISTENT_ACLS) != 0;
}

// Where the folders of `path` begin: "C:\\" of "C:\\a\\b", "\\\\server\\share\\" of a UNC path;
// npos when it is neither.
size_t VolumeRootLength(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return 3;
    if (path.rfind(L"\\\\", 0) != 0) return std::wstring::npos;
    const size_t server = path.find(L'\\', 2);
    if (server == std::wstring::npos) return std::wstring::npos;
    const size_t share = path.find(L'\\', server + 1);
    return share == std::wstring::npos ? std::wstring::npos : share + 1;
}

// Opens `path` as HeldWorkFolder holds a folder: listing counts for sharing, attributes alone do
// not, and without FILE_SHARE_DELETE no one may open it for the delete access a rename needs
// (https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-createfilew, dwShareMode;
// https://learn.microsoft.com/openspecs/windows_protocols/ms-fsa/87f86c9b-6c2a-4803-84b7-131a74a434fa:
// a rename fails unless its open was granted DELETE).
qarv::UniqueFile HoldFolder(const std::wstring& path) {
    return qarv::UniqueFile(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Holds every folder above the last component of `finalPath`, below its volume's root, each
// checked to be the directory at exactly that path. False, with `holds` emptied, when one fails.
bool HoldAncestors(const std::wstring& finalPath, std::vector<qarv::UniqueFile>& holds) {
    holds.clear();
    const size_t root = VolumeRootLength(finalPath);
    if (root == std::wstring::npos) return false;
    const size_t last = finalPath.find_last_of(L'\\');
    for (size_t end = finalPath.find(L'\\', root); end != std::wstring::npos && end <= last && end > root;
         end = finalPath.find(L'\\', end + 1)) {
        const std::wstring ancestor = finalPath.substr(0, end);
        qarv::UniqueFile hold = HoldFolder(ancestor);
        if (!hold || !HandleLeadsTo(hold.get(), ancestor)) {
            holds.clear();
            return false;
        }
        holds.push_back(std::move(hold));
        if (end == last) break;
    }
    return true;
}

}  // namespace

WorkFolderRoute WindowsDriveRoute(ULONGLONG freeBytes) {
    const DWORD high = static_cast<DWORD>(freeBytes >> 32);
    const DWORD low = static_cast<DWORD>(freeBytes);
    if (high != 0) return WorkFolderRoute::TemporaryFolder;
    if (low < kWindowsDriveRefusalBytes) return WorkFolderRoute::Refused;
    if (low <= kWindowsDriveTemporaryBytes) return WorkFolderRoute::SpareDrive;
    return WorkFolderRoute::TemporaryFolder;
}

bool SpareDriveHasRoom(ULONGLONG freeBytes) {
    return static_cast<DWORD>(freeBytes >> 32) != 0 || static_cast<DWORD>(freeBytes) > kSpareDriveMinimumBytes;
}

WorkFolderStatus ChooseWorkFolder(std::wstring& folder) {
    folder.clear();

    wchar_t windowsDirectory[kWindowsDirectoryCapacity] = {};
    const UINT length = GetWindowsDirectoryW(windowsDirectory, kWindowsDirectoryCapacity);
    // A result of the capacity or more means the text did not fit and the buffer holds nothing.
    if (length < 2 || length >= kWindowsDirectoryCapacity) return kWorkFolderSystemCallFailed;
    const std::wstring windowsRoot(windowsDirectory, 2);

    ULONGLONG freeBytes = 0;
    if (!FreeBytes(windowsRoot, freeBytes)) return kWorkFolderSystemCallFailed;

    switch (WindowsDriveRoute(freeBytes)) {
        case WorkFolderRoute::Refused:
            return kWorkFolderWindowsDriveFull;
        case WorkFolderRoute::SpareDrive: {
            const std::wstring spareRoot = FindSpareFixedDrive(windowsRoot);
            if (spareRoot.empty()) return kWorkFolderNoSpareDrive;
            folder = MakeDatedFolderName(spareRoot);
            return kWorkFolderChosen;
        }
        case WorkFolderRoute::TemporaryFolder:
            break;
    }

    // The drive that holds the temporary folder is not measured.
    const size_t rootEnd = std::wstring(windowsDirectory, length).find_last_not_of(L'\\');
    folder = MakeTemporaryFolderName(std::wstring(windowsDirectory, rootEnd + 1) + L"\\");
    return folder.empty() ? kWorkFolderSystemCallFailed : kWorkFolderChosen;
}

std::wstring FindSpareFixedDrive(const std::wstring& windowsRoot) {
    // C: to Z:. Nothing past Z: is a drive ("\:" would name a path on the current drive).
    for (wchar_t letter = L'C'; letter <= L'Z'; ++letter) {
        const std::wstring candidate{letter, L':'};
        if (SameText(candidate, windowsRoot)) continue;
        const auto getDriveType = qarv::ReplacedOrReal(PlatformCalls().getDriveType, &GetDriveTypeW);
        if (getDriveType(candidate.c_str()) != DRIVE_FIXED) continue;
        if (!KeepsAccessLists(candidate + L"\\")) continue;
        ULONGLONG freeBytes = 0;
        if (!FreeBytes(candidate, freeBytes)) continue;
        if (SpareDriveHasRoom(freeBytes)) return candidate;
    }
    return std::wstring();
}

std::wstring MakeDatedFolderName(const std::wstring& driveRoot) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    // The tick count wraps past 2^31 after about 24.8 days; as a signed number it then prints with
    // a minus sign, which is still a valid name.
    const int tick = static_cast<int>(qarv::ReplacedOrReal(PlatformCalls().getTickCount, &GetTickCount)());
    wchar_t suffix[64] = {};
    swprintf(suffix, std::size(suffix), L"\\_IS%04d%02d%02d%d", now.wYear, now.wMonth, now.wDay, tick);
    return driveRoot + suffix;
}

WorkFolderSecurity MakeWorkFolderSecurity() {
    const std::wstring userSid = CurrentUserSidString();
    if (userSid.empty()) return WorkFolderSecurity();

    // P: protected, so nothing comes from a drive root where any local user may change new files.
    // OICI: files the extraction writes inside inherit the same entries.
    // The installing user may read and run, never write: the user's own unelevated programs must
    // not swap the installer between its extraction and its elevated start. OWNER RIGHTS (S-1-3-4)
    // holds the owner to the same, should the owner be that user: otherwise the owner's implicit
    // right to change the access list would give the write right back.
    const std::wstring descriptorText = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;" + std::wstring(kReadAndExecuteRights) +
                                        L";;;" + userSid + L")(A;OICI;" + kReadAndExecuteRights + L";;;S-1-3-4)";
    WorkFolderSecurity descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptorText.c_str(), SDDL_REVISION_1,
                                                              descriptor.put(), nullptr)) {
        return WorkFolderSecurity();
    }
    return descriptor;
}

bool FolderVolumeIsPrivate(const std::wstring& path) {
    // The root of the volume the path ends on, past mounted folders and junctions.
    wchar_t volume[kTemporaryPathCapacity] = {};
    if (path.empty() || !GetVolumePathNameW(path.c_str(), volume, kTemporaryPathCapacity)) return false;
    const std::wstring root(volume);
    if (root.rfind(L"\\\\", 0) == 0) return false;  // a share named by its UNC path
    const auto getDriveType = qarv::ReplacedOrReal(PlatformCalls().getDriveType, &GetDriveTypeW);
    if (getDriveType(root.c_str()) == DRIVE_REMOTE) return false;
    return KeepsAccessLists(root);
}

std::wstring FinalPathOf(HANDLE handle) {
    const auto getFinalPath = qarv::ReplacedOrReal(PlatformCalls().getFinalPathNameByHandle, &GetFinalPathNameByHandleW);
    std::vector<wchar_t> path(MAX_PATH);
    // A path can lengthen between two calls (a rename above it); three tries are plenty for an
    // honest answer, and an answer that keeps growing gets no more.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD length = getFinalPath(handle, path.data(), static_cast<DWORD>(path.size()),
                                          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            const std::wstring text(path.data(), length);
            if (text.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + text.substr(7);
            if (text.rfind(L"\\\\?\\", 0) == 0) return text.substr(4);
            return text;
        }
        // The size needed, documented as including the terminator; one more in case an answer
        // leaves it out, so that the same answer always fits the next time.
        if (length > 32768) return std::wstring();
        path.resize(static_cast<size_t>(length) + 1);
    }
    return std::wstring();
}

bool HandleLeadsTo(HANDLE folder, const std::wstring& expectedFinalPath) {
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(folder, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return false;
    }
    return !expectedFinalPath.empty() && SameText(FinalPathOf(folder), expectedFinalPath);
}

HeldWorkFolder CreateAndHoldWorkFolder(const std::wstring& folder) {
    const size_t slash = folder.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash + 1 >= folder.size()) return HeldWorkFolder();
    const std::wstring name = folder.substr(slash + 1);
    // "D:" alone would name the drive's current folder, so a root keeps its backslash.
    const std::wstring parentPath = folder.substr(0, slash == 2 ? 3 : slash);
    const WorkFolderSecurity descriptor = MakeWorkFolderSecurity();
    if (!descriptor) return HeldWorkFolder();

    // The folder is made inside this handle's directory, wherever its path may lead by then.
    qarv::UniqueFile parent(CreateFileW(parentPath.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!parent) return HeldWorkFolder();
    std::wstring expectedFinalPath = FinalPathOf(parent.get());
    if (expectedFinalPath.empty()) return HeldWorkFolder();
    if (expectedFinalPath.back() != L'\\') expectedFinalPath += L'\\';
    expectedFinalPath += name;

    // https://learn.microsoft.com/windows/win32/api/winternl/nf-winternl-ntcreatefile
    using NtCreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                                  PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
    const auto ntCreateFile = qarv::SystemEntry<NtCreateFileFunction>(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile");
    if (ntCreateFile == nullptr || name.size() * sizeof(wchar_t) > 0xFFFE) return HeldWorkFolder();
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<PWSTR>(name.c_str());
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, parent.get(), descriptor.get());
    IO_STATUS_BLOCK status = {};
    HANDLE created = INVALID_HANDLE_VALUE;
    // Created and opened in one step, with its rights from the start: FILE_CREATE fails on
    // anything already at the path, a junction included. No FILE_SHARE_DELETE: a rename or
    // removal needs delete access, which no one gets while the handle is open.
    const NTSTATUS result = ntCreateFile(&created, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes,
                                         &status, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         FILE_CREATE, FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT |
                                         FILE_OPEN_REPARSE_POINT, nullptr, 0);
    if (result < 0) return HeldWorkFolder();
    HeldWorkFolder held;
    held.folder.reset(created);
    // Made where its parent's handle leads, and a plain folder.
    if (!HandleLeadsTo(held.folder.get(), expectedFinalPath)) return HeldWorkFolder();
    // From here on the run names the folder by its own final path, and holds every folder on it
    // so that the path cannot be made to lead elsewhere: a junction higher up that the user owns
    // may be repointed at will, but the path through it is never used again.
    held.path = FinalPathOf(held.folder.get());
    if (held.path.empty() || !HoldAncestors(held.path, held.ancestors)) return HeldWorkFolder();
    // A folder above it renamed before it was held would show here.
    if (!HandleLeadsTo(held.folder.get(), held.path)) return HeldWorkFolder();
    return held;
}

}  // namespace qarv
