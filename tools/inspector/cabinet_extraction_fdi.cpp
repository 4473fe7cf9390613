// Extracting a cabinet in memory with the system's own FDI (Cabinet.dll, loaded by its full system
// path), as the launcher extracts it: FDI's file callbacks read the cabinet from the caller's bytes
// and hand each extracted file to a counter and, for the file asked for, to the MD5.
#include <windows.h>
#include <fdi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "cabinet_extraction.h"
#include "cabinet_text.h"
#include "common/system_library.h"
#include "common/unique_handle.h"
#include "digest.h"
#include "memory_file.h"

namespace qarv::tools::inspector {

namespace {

// The name FDICopy is given, and hands back to FdiOpen joined to an empty path.
char kCabinetName[] = "cabinet";

// FDI's file callbacks carry no context of their own: the cabinet of the running ExtractCabinet
// (the tool extracts one cabinet at a time, on one thread).
ByteView g_cabinet;
// FDI reports a decoder that refuses its parameters as FDIERROR_ALLOC_FAIL too; only an allocation
// that failed here is the memory running out.
bool g_allocationFailed = false;

struct Session {
    const Cabinet* cabinet = nullptr;
    std::size_t digestIndex = 0;
    Digest* md5 = nullptr;
    std::size_t index = 0;  // of the file FDI delivers next
    std::size_t lastGiven = SIZE_MAX;  // the last file handed to FDI, which a failure names
    MemoryFile sink = MemoryFile::Sink(nullptr);
    std::vector<std::uint64_t> fileBytes;
    std::string problem;  // why the notification abandoned the extraction
};

MemoryFile* AsFile(INT_PTR handle) { return reinterpret_cast<MemoryFile*>(handle); }

FNALLOC(FdiAllocate) {
    void* memory = std::malloc(cb);
    if (memory == nullptr) g_allocationFailed = true;
    return memory;
}
FNFREE(FdiFree) { std::free(pv); }
FNOPEN(FdiOpen) {
    if (pszFile == nullptr || std::strcmp(pszFile, kCabinetName) != 0) return -1;
    MemoryFile* file = new (std::nothrow) MemoryFile(MemoryFile::Reader(g_cabinet));
    return file != nullptr ? reinterpret_cast<INT_PTR>(file) : -1;
}
FNREAD(FdiRead) { return static_cast<UINT>(AsFile(hf)->Read(pv, cb)); }
FNWRITE(FdiWrite) { return static_cast<UINT>(AsFile(hf)->Write(pv, cb)); }
FNCLOSE(FdiClose) {
    MemoryFile* file = AsFile(hf);
    if (!file->IsSink()) delete file;
    return 0;
}
FNSEEK(FdiSeek) {
    MemoryFile* file = AsFile(hf);
    if (seektype != SEEK_SET && seektype != SEEK_CUR && seektype != SEEK_END) return -1;
    const SeekOrigin origin = seektype == SEEK_SET ? SeekOrigin::kStart
                              : seektype == SEEK_CUR ? SeekOrigin::kCurrent : SeekOrigin::kEnd;
    if (!file->Seek(dist, origin)) return -1;
    return static_cast<long>(file->Position());
}

// The answers follow FNFDINOTIFY's documentation: -1 abandons the extraction.
// https://learn.microsoft.com/windows/win32/api/fdi/nf-fdi-fnfdinotify
FNFDINOTIFY(Notify) {
    Session* session = static_cast<Session*>(pfdin->pv);
    switch (fdint) {
        case fdintCOPY_FILE: {
            const std::size_t index = session->index;
            if (index >= session->cabinet->files.size() || pfdin->cb != static_cast<long>(session->cabinet->files[index].size)) {
                session->problem = "Cabinet.dll reads another file list than the cabinet's directory (file " +
                                   std::to_string(index + 1) + ")";
                return -1;
            }
            session->lastGiven = index;
            session->sink = MemoryFile::Sink(index == session->digestIndex ? session->md5 : nullptr);
            return reinterpret_cast<INT_PTR>(&session->sink);
        }
        case fdintCLOSE_FILE_INFO:
            session->fileBytes.push_back(session->sink.Written());
            ++session->index;
            return TRUE;
        case fdintCABINET_INFO:
        case fdintENUMERATE:
            return 0;
        case fdintPARTIAL_FILE:
        case fdintNEXT_CABINET:
        default:
            // One cabinet on its own: a set is refused before extraction, and never waited for.
            session->problem = "Cabinet.dll asks for another cabinet of a set";
            return -1;
    }
}

const char* FdiErrorText(int error) {
    switch (error) {
        case FDIERROR_NOT_A_CABINET: return "it is not a cabinet";
        case FDIERROR_UNKNOWN_CABINET_VERSION: return "its version is unknown";
        case FDIERROR_CORRUPT_CABINET: return "it is corrupt";
        case FDIERROR_BAD_COMPR_TYPE: return "its compression is unknown";
        case FDIERROR_MDI_FAIL: return "its data does not decode";
        case FDIERROR_RESERVE_MISMATCH: return "its reserve sizes are wrong";
        case FDIERROR_ALLOC_FAIL: return "its decoder refuses the folder's parameters";
    }
    return "it cannot be extracted";
}

CabinetCheck Damaged(const std::string& problem) { return {CabinetStatus::kDamaged, "damaged cabinet: " + problem}; }

}  // namespace

CabinetCheck ExtractCabinet(ByteView bytes, const Cabinet& cabinet, std::size_t digestIndex,
                            CabinetExtraction& extraction) {
    extraction = CabinetExtraction{};
    // Cabinet.dll from the system directory, never one beside the inspector or in the current folder.
    const UniqueModule module = LoadSystemLibrary(L"Cabinet.dll");
    if (!module) return Damaged("the system's Cabinet.dll cannot be loaded");
    decltype(&FDICreate) fdiCreate = nullptr;
    decltype(&FDICopy) fdiCopy = nullptr;
    decltype(&FDIDestroy) fdiDestroy = nullptr;
    if (!ResolveSystemEntry(module.get(), "FDICreate", fdiCreate) ||
        !ResolveSystemEntry(module.get(), "FDICopy", fdiCopy) ||
        !ResolveSystemEntry(module.get(), "FDIDestroy", fdiDestroy)) {
        return Damaged("the system's Cabinet.dll lacks FDICreate, FDICopy or FDIDestroy");
    }

    ERF error = {};
    const UniqueFdiContext context(
        fdiCreate(FdiAllocate, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpuUNKNOWN, &error), fdiDestroy);
    if (!context) throw std::bad_alloc();

    Digest md5(DigestAlgorithm::kMd5);
    Session session;
    session.cabinet = &cabinet;
    session.digestIndex = digestIndex;
    session.md5 = &md5;
    g_cabinet = bytes.Slice(0, cabinet.declaredSize);
    g_allocationFailed = false;
    char emptyPath[] = "";
    const BOOL copied = fdiCopy(context.get(), kCabinetName, emptyPath, 0, Notify, nullptr, &session);
    g_cabinet = ByteView();
    if (session.sink.DigestFailed()) throw DigestError(session.sink.DigestProblem());
    if (!session.problem.empty()) return Damaged(session.problem);
    if (!copied) {
        if (g_allocationFailed) throw std::bad_alloc();
        // The file named is the last one FDI was given: Wine's FDI sends fdintCLOSE_FILE_INFO for
        // it even when its data failed to decode.
        const std::string file = session.lastGiven != SIZE_MAX
                                     ? "file '" + PrintableText(cabinet.files[session.lastGiven].name) + "' does not extract"
                                     : "it does not extract";
        return Damaged(file + " with Cabinet.dll: " + FdiErrorText(error.erfOper));
    }
    if (session.index != cabinet.files.size()) {
        return Damaged("Cabinet.dll extracts " + std::to_string(session.index) + " files, the directory lists " +
                       std::to_string(cabinet.files.size()));
    }
    extraction.fileBytes = std::move(session.fileBytes);
    if (digestIndex < cabinet.files.size()) extraction.digest = HexBytes(md5.Finish());
    return {};
}

}  // namespace qarv::tools::inspector
