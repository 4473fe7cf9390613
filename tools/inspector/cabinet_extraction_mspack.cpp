// Extracting a cabinet in memory with libmspack's cabinet decompressor, the decoder cabextract is
// built on: an mspack_system of our own reads the cabinet from the caller's bytes and hands each
// extracted file to a counter and, for the file asked for, to the MD5.
#include <mspack.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "cabinet_extraction.h"
#include "cabinet_text.h"
#include "digest.h"
#include "memory_file.h"

namespace qarv::tools::inspector {

namespace {

// The names libmspack is given, and hands back to Open: the cabinet, and the file being extracted.
constexpr char kCabinetName[] = "cabinet";
constexpr char kOutputName[] = "output";

struct MemorySystem {
    mspack_system base;  // first, so that libmspack's pointer to it is a pointer to the whole
    ByteView cabinet;
    MemoryFile* sink = nullptr;  // the file the running extract() writes
    // libmspack also answers MSPACK_ERR_NOMEMORY when a decoder refuses its parameters; only an
    // allocation that failed here is the memory running out.
    bool allocationFailed = false;
};
static_assert(std::is_standard_layout<MemorySystem>::value, "libmspack's pointer is converted back to the whole");

MemoryFile* AsFile(mspack_file* file) { return reinterpret_cast<MemoryFile*>(file); }

mspack_file* Open(mspack_system* self, const char* name, int mode) {
    MemorySystem* system = reinterpret_cast<MemorySystem*>(self);
    if (mode == MSPACK_SYS_OPEN_READ && std::strcmp(name, kCabinetName) == 0) {
        return reinterpret_cast<mspack_file*>(new (std::nothrow) MemoryFile(MemoryFile::Reader(system->cabinet)));
    }
    if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(name, kOutputName) == 0 && system->sink != nullptr) {
        return reinterpret_cast<mspack_file*>(system->sink);  // owned by ExtractCabinet
    }
    return nullptr;
}

void Close(mspack_file* handle) {
    MemoryFile* file = AsFile(handle);
    if (file != nullptr && !file->IsSink()) delete file;
}

int Read(mspack_file* handle, void* buffer, int bytes) {
    if (bytes < 0) return -1;
    return static_cast<int>(AsFile(handle)->Read(buffer, static_cast<std::size_t>(bytes)));
}

int Write(mspack_file* handle, void* buffer, int bytes) {
    if (bytes < 0) return -1;
    return static_cast<int>(AsFile(handle)->Write(buffer, static_cast<std::size_t>(bytes)));
}

int Seek(mspack_file* handle, off_t offset, int mode) {
    if (mode != MSPACK_SYS_SEEK_START && mode != MSPACK_SYS_SEEK_CUR && mode != MSPACK_SYS_SEEK_END) return -1;
    const SeekOrigin origin = mode == MSPACK_SYS_SEEK_START ? SeekOrigin::kStart
                              : mode == MSPACK_SYS_SEEK_CUR ? SeekOrigin::kCurrent : SeekOrigin::kEnd;
    return AsFile(handle)->Seek(offset, origin) ? 0 : -1;
}

off_t Tell(mspack_file* handle) {
    const MemoryFile* file = AsFile(handle);
    return static_cast<off_t>(file->IsSink() ? file->Written() : file->Position());
}

// libmspack's warnings repeat what its error codes and the inspector's own checks say.
void Message(mspack_file*, const char*, ...) {}

void* Allocate(mspack_system* self, std::size_t bytes) {
    void* memory = std::malloc(bytes);
    if (memory == nullptr) reinterpret_cast<MemorySystem*>(self)->allocationFailed = true;
    return memory;
}
void Free(void* pointer) { std::free(pointer); }
void Copy(void* from, void* to, std::size_t bytes) { std::memmove(to, from, bytes); }

const char* ErrorText(int error) {
    switch (error) {
        case MSPACK_ERR_READ: return "its data ends early";
        case MSPACK_ERR_SIGNATURE: return "it has no cabinet signature";
        case MSPACK_ERR_DATAFORMAT: return "its structure is invalid";
        case MSPACK_ERR_CHECKSUM: return "a data block fails its checksum";
        case MSPACK_ERR_DECRUNCH: return "its data does not decode";
        case MSPACK_ERR_NOMEMORY: return "its decoder refuses the folder's parameters";
    }
    return "it cannot be extracted";
}

struct DecompressorDeleter {
    void operator()(mscab_decompressor* decompressor) const { mspack_destroy_cab_decompressor(decompressor); }
};

CabinetCheck Damaged(const std::string& problem) { return {CabinetStatus::kDamaged, "damaged cabinet: " + problem}; }

}  // namespace

CabinetCheck ExtractCabinet(ByteView bytes, const Cabinet& cabinet, std::size_t digestIndex,
                            CabinetExtraction& extraction) {
    extraction = CabinetExtraction{};
    int selfTest = MSPACK_ERR_OK;
    MSPACK_SYS_SELFTEST(selfTest);
    if (selfTest != MSPACK_ERR_OK) return Damaged("libmspack was built for another file offset size");

    MemorySystem system{};
    system.base.open = Open;
    system.base.close = Close;
    system.base.read = Read;
    system.base.write = Write;
    system.base.seek = Seek;
    system.base.tell = Tell;
    system.base.message = Message;
    system.base.alloc = Allocate;
    system.base.free = Free;
    system.base.copy = Copy;
    system.cabinet = bytes.Slice(0, cabinet.declaredSize);

    std::unique_ptr<mscab_decompressor, DecompressorDeleter> decompressor(mspack_create_cab_decompressor(&system.base));
    if (decompressor == nullptr) throw std::bad_alloc();
    // A bad checksum or a damaged MSZIP block is an error, never salvaged: Cabinet.dll fails on it too.
    decompressor->set_param(decompressor.get(), MSCABD_PARAM_FIXMSZIP, 0);
    decompressor->set_param(decompressor.get(), MSCABD_PARAM_SALVAGE, 0);
    mscabd_cabinet* opened = decompressor->open(decompressor.get(), kCabinetName);
    if (opened == nullptr) {
        const int error = decompressor->last_error(decompressor.get());
        if (system.allocationFailed) throw std::bad_alloc();
        return Damaged(std::string("libmspack cannot read it: ") + ErrorText(error));
    }
    auto closeCabinet = [&](mscabd_cabinet* cabinetToClose) { decompressor->close(decompressor.get(), cabinetToClose); };
    std::unique_ptr<mscabd_cabinet, decltype(closeCabinet)> openedOwner(opened, closeCabinet);

    Digest md5(DigestAlgorithm::kMd5);
    std::size_t index = 0;
    for (mscabd_file* file = opened->files; file != nullptr; file = file->next, ++index) {
        // libmspack lists the files in cabinet order; they must be the ones the directory lists.
        if (index >= cabinet.files.size() || file->length != cabinet.files[index].size ||
            file->offset != cabinet.files[index].folderOffset) {
            return Damaged("libmspack reads another file list than the cabinet's directory (file " +
                           std::to_string(index + 1) + ")");
        }
        MemoryFile sink = MemoryFile::Sink(index == digestIndex ? &md5 : nullptr);
        system.sink = &sink;
        const int result = decompressor->extract(decompressor.get(), file, kOutputName);
        system.sink = nullptr;
        if (sink.DigestFailed()) throw DigestError(sink.DigestProblem());
        if (system.allocationFailed) throw std::bad_alloc();
        if (result != MSPACK_ERR_OK) {
            return Damaged("file '" + PrintableText(cabinet.files[index].name) + "' does not extract with libmspack: " +
                           ErrorText(result));
        }
        extraction.fileBytes.push_back(sink.Written());
    }
    if (index != cabinet.files.size()) {
        return Damaged("libmspack finds " + std::to_string(index) + " files, the directory lists " +
                       std::to_string(cabinet.files.size()));
    }
    if (digestIndex < cabinet.files.size()) extraction.digest = HexBytes(md5.Finish());
    return {};
}

}  // namespace qarv::tools::inspector
