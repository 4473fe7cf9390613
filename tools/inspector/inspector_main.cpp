// qarv-inspector: what a built launcher carries, read from the executable without running anything.
//
//   qarv-inspector LAUNCHER.exe            the payload's cabinet: files, sizes, dates, attributes,
//                                          and the MD5 of the program the launcher will start
//   qarv-inspector --offsets LAUNCHER.exe  where the payload lies in the file (for tools and tests)
//
// It finds RT_RCDATA 129 through the PE headers and resource directory, descrambles it with the
// launcher's own transform, checks that the result is one whole cabinet and decodes all of it: its
// own decoder for stored and MSZIP data, and the platform's (libmspack, or the system's Cabinet.dll
// in the Windows build) for every file, whatever its compression.
#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "authenticode.h"
#include "cabinet_data.h"
#include "cabinet_extraction.h"
#include "cabinet_text.h"
#include "digest.h"
#include "launcher_name_rule.h"
#include "payload/scramble_transform.h"
#include "pe_resources.h"
#include "signature_report.h"

namespace qarv::tools::inspector {
namespace {

constexpr std::uint32_t kPayloadResourceId = 129;
constexpr std::uint16_t kPayloadLanguage = 1033;
// The shipped launcher is some 24 MB; a file this large is not one, and is not read into memory.
constexpr long long kLargestFile = 1LL << 30;

// Exit codes: one per kind of finding, so that a script can tell them apart.
constexpr int kExitValid = 0;
constexpr int kExitUnreadable = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotPe = 3;
constexpr int kExitNoPayload = 4;
constexpr int kExitNotCabinet = 5;
constexpr int kExitTruncated = 6;
constexpr int kExitDamaged = 7;
constexpr int kExitUnsupported = 8;
constexpr int kExitSignatureMismatch = 9;
constexpr int kExitSignatureUnreadable = 10;
constexpr int kExitRefusedNames = 11;

const char kUsage[] =
    "usage: qarv-inspector [--offsets] LAUNCHER.exe\n"
    "\n"
    "Lists the cabinet a built launcher carries (RT_RCDATA 129): each file's size, cabinet date and\n"
    "attributes, and the MD5 of the program the launcher starts (the file its extraction closes last),\n"
    "in the form the launcher's trace shows. Nothing is run or written to disk.\n"
    "  --offsets  print only where the payload lies in the file: payload_offset=N and payload_size=N\n"
    "\n"
    "Exit status: 0 the payload is a valid cabinet; 1 the file cannot be read; 2 usage; 3 not a PE\n"
    "file; 4 no payload resource; 5 the payload is not a cabinet; 6 truncated; 7 damaged cabinet;\n"
    "8 a cabinet the launcher cannot extract (a cabinet set, an unknown compression); 9 the file\n"
    "changed after it was signed (its Authenticode digest does not match); 10 a certificate table that\n"
    "cannot be read; 11 the launcher refuses the payload's file names (a device or container name,\n"
    "two names of one file) or it holds no file. A signature finding (9, 10) takes precedence over\n"
    "the payload's.\n";

struct Failure {
    int exitCode = kExitValid;
    std::string message;
};

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, Failure& failure) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        failure = {kExitUnreadable, std::string("cannot open: ") + std::strerror(errno)};
        return false;
    }
    bytes.clear();
    std::uint8_t buffer[65536];
    bool ok = true;
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
        if (got == 0) break;
        if (static_cast<long long>(bytes.size() + got) > kLargestFile) {
            failure = {kExitNotPe, "larger than 1 GiB: not a launcher"};
            ok = false;
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    if (ok && std::ferror(file)) {
        failure = {kExitUnreadable, std::string("cannot read: ") + std::strerror(errno)};
        ok = false;
    }
    std::fclose(file);
    return ok;
}

// A cabinet's name bytes made safe for a terminal: control bytes shown as \xNN.
std::string Printable(const std::string& name) { return tools::PrintableText(name); }

std::string Plural(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

int ExitFor(CabinetStatus status) {
    switch (status) {
        case CabinetStatus::kOk: return kExitValid;
        case CabinetStatus::kNotCabinet: return kExitNotCabinet;
        case CabinetStatus::kTruncated: return kExitTruncated;
        case CabinetStatus::kDamaged: return kExitDamaged;
        case CabinetStatus::kUnsupported: return kExitUnsupported;
    }
    return kExitDamaged;
}

int ExitFor(PeStatus status) {
    switch (status) {
        case PeStatus::kOk: return kExitValid;
        case PeStatus::kNotPe: return kExitNotPe;
        case PeStatus::kTruncated: return kExitTruncated;
        case PeStatus::kNoResource: return kExitNoPayload;
    }
    return kExitNotPe;
}

void PrintFileTable(const Cabinet& cabinet) {
    std::size_t nameWidth = 4;
    for (const CabinetFile& file : cabinet.files) nameWidth = std::max(nameWidth, Printable(file.name).size());
    const int width = static_cast<int>(nameWidth);
    std::printf("\n  %-3s %-*s %10s  %-11s %s\n", "#", width, "file", "bytes", "attributes", "date (local)");
    for (std::size_t i = 0; i < cabinet.files.size(); ++i) {
        const CabinetFile& file = cabinet.files[i];
        std::printf("  %-3zu %-*s %10u  %-11s %s%s\n", i + 1, width, Printable(file.name).c_str(), file.size,
                    FormatAttributes(file.attributes).c_str(), DescribeDosDateTime(file.date, file.time).c_str(),
                    i + 1 == cabinet.files.size() ? "  <- program to start (closed last)" : "");
    }
}

// What would trip the launcher's extraction or surprise its user, though the cabinet is sound.
void PrintWarnings(const Cabinet& cabinet, std::size_t payloadSize) {
    std::vector<std::string> warnings;
    for (const CabinetFile& file : cabinet.files) {
        const std::string name = "'" + Printable(file.name) + "'";
        if (file.name.find_first_of("\\/") != std::string::npos) {
            warnings.push_back("file " + name + " has a folder part; the launcher creates no subfolders, so its extraction fails");
        }
        if (FormatDosDateTime(file.date, file.time).empty()) {
            warnings.push_back("file " + name + " has no valid date; the launcher leaves it the time of extraction");
        }
    }
    if (cabinet.declaredSize < payloadSize) {
        warnings.push_back(std::to_string(payloadSize - cabinet.declaredSize) +
                           " bytes follow the cabinet's end in the payload; extraction ignores them");
    }
    for (const std::string& warning : warnings) std::printf("  warning: %s\n", warning.c_str());
}

// What the launcher's own file-name rule refuses, one reason a line; none when it would extract.
std::vector<std::string> RefusedNames(const Cabinet& cabinet) {
    std::vector<std::string> reasons;
    if (cabinet.files.empty()) reasons.push_back("the cabinet holds no files: the launcher would have no program to start");
    for (const tools::RefusedName& refused : tools::RefusedNames(cabinet.files)) {
        reasons.push_back(tools::DescribeRefusedName(cabinet.files, refused, ""));
    }
    return reasons;
}

// Records a finding for Inspect to report; false, for a step to return.
bool Failed(Failure& failure, int exitCode, const std::string& message) {
    failure = {exitCode, message};
    return false;
}

// The payload resource's place in the file; false, with why in `failure`, when there is none.
bool FindPayload(const std::vector<std::uint8_t>& file, PeLookup& lookup, Failure& failure) {
    lookup = FindPeResource(ByteView(file.data(), file.size()), kResourceTypeRcData, kPayloadResourceId,
                            kPayloadLanguage);
    if (lookup.status == PeStatus::kNoResource) {
        return Failed(failure, kExitNoPayload,
                      "no payload resource (RT_RCDATA " + std::to_string(kPayloadResourceId) + "): " + lookup.problem);
    }
    if (lookup.status != PeStatus::kOk) return Failed(failure, ExitFor(lookup.status), lookup.problem);
    return true;
}

void PrintImage(const PeLayout& image) {
    std::printf("  image     %s, %s, %s\n", image.pe32Plus ? "PE32+" : "PE32", MachineName(image.machine).c_str(),
                Plural(image.sectionCount, "section").c_str());
}

void PrintPayloadPlace(const PeResource& resource) {
    std::printf("  payload   RT_RCDATA %u, language %u: %u bytes at file offset 0x%llX (RVA 0x%X)\n",
                kPayloadResourceId, resource.language, resource.size,
                static_cast<unsigned long long>(resource.fileOffset), resource.rva);
}

// The payload's bytes as the launcher extracts them: descrambled with its own transform.
std::vector<std::uint8_t> DescrambledPayload(const std::vector<std::uint8_t>& file, const PeResource& resource) {
    std::vector<std::uint8_t> bytes(file.begin() + static_cast<std::ptrdiff_t>(resource.fileOffset),
                                    file.begin() + static_cast<std::ptrdiff_t>(resource.fileOffset + resource.size));
    DescramblePayload(bytes.data(), bytes.size());
    return bytes;
}

bool ReadCabinet(ByteView bytes, Cabinet& cabinet, Failure& failure) {
    const CabinetCheck check = ReadCabinetDirectory(bytes, cabinet);
    if (check.status == CabinetStatus::kNotCabinet) {
        return Failed(failure, kExitNotCabinet, "the payload is not a cabinet: descrambled, " + check.problem);
    }
    if (check.status != CabinetStatus::kOk) return Failed(failure, ExitFor(check.status), check.problem);
    return true;
}

void PrintCabinet(const Cabinet& cabinet) {
    std::string methods;
    for (const CabinetFolder& folder : cabinet.folders) {
        const char* name = tools::CompressionName(folder.compression);
        if (methods.find(name) == std::string::npos) methods += std::string(methods.empty() ? "" : ", ") + name;
    }
    std::printf("  cabinet   version %u.%u, %u bytes, %s (%s), %s\n", cabinet.versionMajor, cabinet.versionMinor,
                cabinet.declaredSize, Plural(cabinet.folders.size(), "folder").c_str(),
                methods.empty() ? "no data" : methods.c_str(), Plural(cabinet.files.size(), "file").c_str());
    PrintFileTable(cabinet);
}

// Decodes the cabinet's data twice, with the inspector's own decoder and with the platform's, and
// checks that both give every file its size and the program the same MD5, which `report` then holds.
bool DecodeCabinet(ByteView bytes, const Cabinet& cabinet, CabinetDataReport& report, Failure& failure) {
    CabinetCheck check = DecodeCabinetData(
        bytes, cabinet, cabinet.files.empty() ? cabinet.files.size() : cabinet.files.size() - 1, report);
    if (check.status != CabinetStatus::kOk) return Failed(failure, ExitFor(check.status), check.problem);
    // Every file once more, extracted by the decoder the launcher's Cabinet.dll stands for; the only
    // one for Quantum and LZX data. A cabinet without files has nothing to extract (libmspack would
    // not even open it); the name check says why the launcher refuses it.
    CabinetExtraction extraction;
    if (!cabinet.files.empty()) {
        check = ExtractCabinet(bytes, cabinet, cabinet.files.size() - 1, extraction);
        if (check.status != CabinetStatus::kOk) return Failed(failure, ExitFor(check.status), check.problem);
    }
    for (std::size_t i = 0; i < cabinet.files.size(); ++i) {
        if (extraction.fileBytes[i] != cabinet.files[i].size) {
            return Failed(failure, kExitDamaged,
                          "damaged cabinet: file '" + Printable(cabinet.files[i].name) + "' extracts to " +
                              std::to_string(extraction.fileBytes[i]) + " bytes, not its " +
                              std::to_string(cabinet.files[i].size));
        }
    }
    if (!report.digest.empty() && report.digest != extraction.digest) {
        return Failed(failure, kExitDamaged, "damaged cabinet: the program's data decodes to MD5 " + report.digest +
                                                 " here but to " + extraction.digest + " by the platform's decoder");
    }
    report.digest = extraction.digest;
    return true;
}

void PrintData(const Cabinet& cabinet, const CabinetDataReport& report) {
    std::string checksums = "checksums: none in the cabinet";
    if (report.checksummedBlocks == report.blocks && report.blocks != 0) {
        checksums = "checksums: all " + std::to_string(report.blocks) + " match";
    } else if (report.checksummedBlocks != 0) {
        checksums = "checksums: " + std::to_string(report.checksummedBlocks) + " match, " +
                    std::to_string(report.blocks - report.checksummedBlocks) + " blocks carry none";
    }
    std::printf("\n  data      %s decoded to %llu bytes; %s\n", Plural(report.blocks, "block").c_str(),
                static_cast<unsigned long long>(report.uncompressedBytes), checksums.c_str());
    if (!cabinet.files.empty()) {
        std::printf("  program MD5  %s  %s\n", report.digest.c_str(), Printable(cabinet.files.back().name).c_str());
    }
}

int Inspect(const std::string& path, bool offsetsOnly) {
    std::vector<std::uint8_t> file;
    Failure failure;
    int signatureExit = kExitValid;  // a file changed after signing explains any damage found after it
    std::string signatureProblem;
    auto fail = [&](int exitCode, const std::string& message) {
        std::fflush(stdout);
        std::fprintf(stderr, "qarv-inspector: %s: %s\n", path.c_str(), message.c_str());
        if (signatureExit == kExitValid) return exitCode;
        if (message != signatureProblem) std::fprintf(stderr, "qarv-inspector: %s: %s\n", path.c_str(), signatureProblem.c_str());
        return signatureExit;
    };
    if (!ReadWholeFile(path, file, failure)) return fail(failure.exitCode, failure.message);

    PeLookup lookup;
    if (!FindPayload(file, lookup, failure)) return fail(failure.exitCode, failure.message);
    const PeResource& resource = lookup.resource;
    if (offsetsOnly) {
        std::printf("payload_offset=%llu\npayload_size=%u\n", static_cast<unsigned long long>(resource.fileOffset),
                    resource.size);
        return kExitValid;
    }

    std::printf("%s\n", path.c_str());
    PrintImage(lookup.image);
    const SignatureCheck signature = CheckAuthenticode(ByteView(file.data(), file.size()));
    PrintSignature(signature);
    if (signature.status == SignatureStatus::kMismatch) signatureExit = kExitSignatureMismatch;
    if (signature.status == SignatureStatus::kUnreadable) signatureExit = kExitSignatureUnreadable;
    signatureProblem = signature.problem;
    PrintPayloadPlace(resource);

    const std::vector<std::uint8_t> cabinetBytes = DescrambledPayload(file, resource);
    const ByteView bytes(cabinetBytes.data(), cabinetBytes.size());
    Cabinet cabinet;
    if (!ReadCabinet(bytes, cabinet, failure)) return fail(failure.exitCode, failure.message);
    PrintCabinet(cabinet);
    CabinetDataReport report;
    if (!DecodeCabinet(bytes, cabinet, report, failure)) return fail(failure.exitCode, failure.message);
    PrintData(cabinet, report);
    PrintWarnings(cabinet, cabinetBytes.size());

    const std::vector<std::string> refused = RefusedNames(cabinet);
    for (const std::string& reason : refused) std::printf("  refused: %s\n", reason.c_str());
    if (signatureExit != kExitValid) return fail(signatureExit, signature.problem);
    if (!refused.empty()) {
        std::fprintf(stderr, "qarv-inspector: %s: the launcher refuses this payload: %s\n", path.c_str(), refused.front().c_str());
        return kExitRefusedNames;
    }
    return kExitValid;
}

// The command line: the launcher's path and whether only its offsets are asked for. Returns an exit
// status when the run ends here (help: 0, a usage error: 2, its message printed).
std::optional<int> ParseArguments(int argc, char** argv, std::string& path, bool& offsetsOnly) {
    enum { kOffsets = 256 };
    static const option kOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"offsets", no_argument, nullptr, kOffsets},
        {nullptr, 0, nullptr, 0},
    };
    // The messages are the inspector's own (opterr = 0); '-' first keeps the arguments in order
    // and hands over each that is no option as 1.
    opterr = 0;
    auto usageError = [](const std::string& message) {
        std::fprintf(stderr, "qarv-inspector: %s\n%s", message.c_str(), kUsage);
        return kExitUsage;
    };
    for (;;) {
        const int at = optind;  // the argument being read: getopt_long only moves past it
        const int code = getopt_long(argc, argv, "-:h", kOptions, nullptr);
        if (code == -1) break;
        if (code == 'h') {
            std::fputs(kUsage, stdout);
            return kExitValid;
        }
        if (code == kOffsets) {
            offsetsOnly = true;
        } else if (!path.empty()) {
            return usageError("give one launcher");
        } else if (code == 1) {
            path = optarg;
        } else {
            return usageError(std::string("unknown option ") + argv[at]);
        }
    }
    for (; optind < argc; ++optind) {  // after "--": paths, even those that start with '-'
        if (!path.empty()) return usageError("give one launcher");
        path = argv[optind];
    }
    if (path.empty()) {
        std::fprintf(stderr, "%s", kUsage);
        return kExitUsage;
    }
    return std::nullopt;
}

}  // namespace
}  // namespace qarv::tools::inspector

int main(int argc, char** argv) {
    bool offsetsOnly = false;
    std::string path;
    if (const std::optional<int> status = qarv::tools::inspector::ParseArguments(argc, argv, path, offsetsOnly)) return *status;
    try {
        return qarv::tools::inspector::Inspect(path, offsetsOnly);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "qarv-inspector: %s: out of memory\n", path.c_str());
    } catch (const qarv::tools::DigestError& error) {
        std::fprintf(stderr, "qarv-inspector: %s: cannot compute a digest: %s\n", path.c_str(), error.what());
    }
    return qarv::tools::inspector::kExitUnreadable;
}
