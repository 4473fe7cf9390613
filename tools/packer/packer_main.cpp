// qarv-packer: makes the launcher's payload (RT_RCDATA 129) from an installer.
//
//   qarv-packer --output PAYLOAD --cabinet INSTALLER.cab
//   qarv-packer --output PAYLOAD --folder DIR --program SETUP.exe
//               [--date "YYYY-MM-DD HH:MM:SS"] [--attributes NAME=rhsa]... [--keep-cabinet CAB]
//
// From a folder it makes an MSZIP cabinet with gcab, the program to start last (the launcher
// starts the file it closes last). It scrambles the cabinet chunk by chunk, checks that
// descrambling gives the cabinet back, and prints the files, sizes, chunk count and the MD5 of the
// program to start, in the form the launcher's trace shows. Nothing is written unless all of that
// succeeds; the payload appears whole or not at all.
#include <dirent.h>
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cabinet_layout.h"
#include "cabinet_text.h"
#include "digest.h"
#include "launcher_name_rule.h"
#include "payload_size.h"
#include "payload/payload_limits.h"
#include "payload/scramble_transform.h"
#include "run_program.h"

namespace qarv::tools::packer {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// What --attributes sets: read-only, hidden, system, archive.
constexpr std::uint16_t kFileAttributeBits =
    tools::kAttributeReadOnly | tools::kAttributeHidden | tools::kAttributeSystem | tools::kAttributeArchive;

struct Options {
    std::string output;
    std::string cabinet;
    std::string folder;
    std::string program;
    std::string keepCabinet;
    std::string date;
    std::vector<std::pair<std::string, std::uint16_t>> attributes;
};

const char kUsage[] =
    "usage: qarv-packer --output PAYLOAD --cabinet INSTALLER.cab\n"
    "       qarv-packer --output PAYLOAD --folder DIR --program SETUP.exe\n"
    "                   [--date \"YYYY-MM-DD HH:MM:SS\"] [--attributes NAME=rhsa]... [--keep-cabinet CAB]\n"
    "\n"
    "Makes the launcher's payload from an installer cabinet, or from a folder of installer files\n"
    "(packed with gcab, the program to start last). --date sets every file's cabinet date and time\n"
    "(local time, as cabinets keep it); --attributes sets one file's cabinet attributes: r read-only,\n"
    "h hidden, s system, a archive, - none.\n";

std::string ErrorText() { return std::strerror(errno); }

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Reads a cabinet to pack through one descriptor, with the payload limits checked on that file
// and not on a path that may name another by then: its size before reading, so that a cabinet too
// large to carry is refused without holding it in memory, then the bytes actually read, of which
// no more than the limit and one are ever held. `source` names the payload in the size messages.
std::vector<std::uint8_t> ReadCabinetFile(const std::string& path, const char* what, const std::string& source) {
    const std::string cannot = std::string("cannot read ") + what + " '" + path + "'";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw PackerError(cannot + ": " + ErrorText());
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat info {};
    if (fstat(fd, &info) != 0) throw PackerError(cannot + ": " + ErrorText());
    const std::uint64_t statedSize = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    if (statedSize > qarv::kLargestPayload) CheckPayloadSize(statedSize, source);
    // Installers run to hundreds of megabytes: large reads, room for the last (empty) one, and a
    // file that grows meanwhile is read only up to one byte past the limit.
    constexpr std::uint64_t kReadSize = 1 << 20;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(statedSize + kReadSize));
    for (;;) {
        const std::uint64_t room = qarv::kLargestPayload + 1 - bytes.size();
        const std::size_t want = static_cast<std::size_t>(room < kReadSize ? room : kReadSize);
        const std::size_t at = bytes.size();
        bytes.resize(at + want);
        const ssize_t got = read(fd, bytes.data() + at, want);
        if (got < 0 && errno == EINTR) {
            bytes.resize(at);
            continue;
        }
        if (got < 0) throw PackerError(cannot + ": " + ErrorText());
        bytes.resize(at + static_cast<std::size_t>(got));
        if (got == 0 || bytes.size() > qarv::kLargestPayload) break;
    }
    CheckPayloadSize(bytes.size(), source);
    return bytes;
}

// Writes through a temporary file beside `path` and renames it into place, so that `path` is
// either left as it was or holds all of `bytes`.
void WriteFileWhole(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::string temporary = path + ".partial-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) throw PackerError("cannot write '" + path + "': " + ErrorText());
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote > 0) {
            done += static_cast<std::size_t>(wrote);
        } else if (wrote < 0 && errno == EINTR) {
            continue;
        } else {
            ok = false;
        }
    }
    std::string failure = ok ? "" : ErrorText();
    if (ok && (fchmod(fd, 0644) != 0 || fsync(fd) != 0)) {
        ok = false;
        failure = ErrorText();
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        failure = ErrorText();
    }
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        failure = ErrorText();
    }
    if (!ok) {
        unlink(temporary.c_str());
        throw PackerError("cannot write '" + path + "': " + failure);
    }
}

// A private temporary folder, removed with what the packer put in it.
class TemporaryFolder {
public:
    TemporaryFolder() {
        const char* base = std::getenv("TMPDIR");
        m_path = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/qarv-packer.XXXXXX";
        if (mkdtemp(m_path.data()) == nullptr) throw PackerError("cannot make a temporary folder: " + ErrorText());
    }
    ~TemporaryFolder() {
        for (const std::string& name : m_files) unlink(JoinPath(m_path, name).c_str());
        rmdir(m_path.c_str());
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    std::string File(const std::string& name) {
        m_files.push_back(name);
        return JoinPath(m_path, name);
    }

private:
    std::string m_path;
    std::vector<std::string> m_files;
};

void RunTool(const std::vector<std::string>& arguments, std::string* output, const char* purpose) {
    std::string errors;
    std::string ownOutput;
    const int status = RunProgram(arguments, output != nullptr ? output : &ownOutput, &errors);
    if (status == 0) return;
    std::string message = std::string(purpose) + ": " + arguments[0];
    message += status < 0 ? " could not be run (is it installed?)" : " failed with status " + std::to_string(status);
    // cabextract tells what is wrong on its standard output.
    std::string details = errors.empty() ? ownOutput : errors;
    while (!details.empty() && (details.back() == '\n' || details.back() == '\r')) details.pop_back();
    if (!details.empty()) message += ":\n" + details;
    throw PackerError(message);
}

// The installer folder's files: names sorted, the program to start last; their sizes are checked
// against what one cabinet folder holds.
std::vector<std::string> InstallerFiles(const std::string& folder, const std::string& program) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) throw PackerError("folder '" + folder + "' does not exist: " + ErrorText());
    if (!S_ISDIR(info.st_mode)) throw PackerError("'" + folder + "' is not a folder");
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) throw PackerError("cannot read folder '" + folder + "': " + ErrorText());
    std::vector<std::string> names;
    std::vector<InstallerFile> files;
    bool hasProgram = false;
    std::string problem;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat fileInfo {};
        if (stat(JoinPath(folder, name).c_str(), &fileInfo) != 0 || !S_ISREG(fileInfo.st_mode)) {
            problem = "'" + JoinPath(folder, name) +
                      "' is not a plain file; the launcher extracts into one folder and creates no subfolders";
            break;
        }
        files.push_back({JoinPath(folder, name), static_cast<std::uint64_t>(fileInfo.st_size)});
        if (name == program) {
            hasProgram = true;
        } else {
            names.push_back(name);
        }
    }
    closedir(dir);
    if (!problem.empty()) throw PackerError(problem);
    if (!hasProgram) throw PackerError("program '" + program + "' is not in folder '" + folder + "'");
    CheckFolderData(files, folder);
    std::sort(names.begin(), names.end());
    names.push_back(program);
    return names;
}

// The launcher's own file-name rule over the whole cabinet: a name it refuses, or two names that
// are one file to Windows, would fail every user's setup. Throws PackerError naming the first.
void CheckNamesAsTheLauncherDoes(const std::vector<CabinetEntry>& entries) {
    if (entries.empty()) throw PackerError("the cabinet holds no files: the launcher would have no program to start");
    const std::vector<tools::RefusedName> refused = tools::RefusedNames(entries);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string problem = ProblemWithEntryName(entries[i].name);
        if (!problem.empty()) throw PackerError("file '" + tools::PrintableText(entries[i].name) + "' in the cabinet " + problem);
        // A name the tools cannot read as the launcher will is refused where it stands, before any clash.
        for (const tools::RefusedName& name : refused) {
            if (name.index == i && (name.problem == qarv::NameProblem::kNotUtf8 ||
                                    name.problem == qarv::NameProblem::kDependsOnCodePage)) {
                throw PackerError(tools::DescribeRefusedName(entries, name, " in the cabinet"));
            }
        }
    }
    if (refused.empty()) return;
    throw PackerError(tools::DescribeRefusedName(entries, refused.front(), " in the cabinet") +
                      "; the launcher would refuse the payload");
}

// The installer's cabinet: made with gcab from --folder, or read as given with --cabinet.
// `source` names it for the summary.
std::vector<std::uint8_t> InstallerCabinet(const Options& options, TemporaryFolder& work, std::string& source) {
    if (options.folder.empty()) {
        source = "cabinet " + options.cabinet;
        return ReadCabinetFile(options.cabinet, "cabinet", "cabinet '" + options.cabinet + "'");
    }
    const std::vector<std::string> names = InstallerFiles(options.folder, options.program);
    const std::string made = work.File("installer.cab");
    std::vector<std::string> arguments = {"gcab", "-c", "-z", "-n", made};
    for (const std::string& name : names) arguments.push_back(JoinPath(options.folder, name));
    RunTool(arguments, nullptr, "making the cabinet");
    source = "folder " + options.folder;
    return ReadCabinetFile(made, "the cabinet made by gcab", "folder '" + options.folder + "'");
}

// The cabinet's entries, read and checked under the launcher's name rule; an error names the
// installer it came from.
std::vector<CabinetEntry> CheckedEntries(const Options& options, const std::vector<std::uint8_t>& cabinet) {
    std::vector<CabinetEntry> entries;
    try {
        entries = ReadCabinetEntries(cabinet);
    } catch (const PackerError& error) {
        throw PackerError("'" + (options.cabinet.empty() ? options.folder : options.cabinet) + "': " + error.what());
    }
    CheckNamesAsTheLauncherDoes(entries);
    return entries;
}

// --attributes and --date, patched into the cabinet's directory; `entries` are then read again
// from the patched bytes, as the launcher will read them, under the same rule.
void ApplyEntryOptions(const Options& options, std::vector<std::uint8_t>& cabinet, std::vector<CabinetEntry>& entries) {
    for (const auto& [name, attributes] : options.attributes) {
        auto found = std::find_if(entries.begin(), entries.end(), [&](const CabinetEntry& e) { return e.name == name; });
        if (found == entries.end()) throw PackerError("--attributes names '" + name + "', which is not in the cabinet");
        // Only the four file attributes: the other bits say how to read the name (UTF-8) and
        // whether to run the file after extraction, and stay as the cabinet has them.
        const std::uint16_t kept = found->attributes & ~kFileAttributeBits;
        SetEntryAttributes(cabinet, *found, static_cast<std::uint16_t>(kept | attributes));
    }
    if (!options.date.empty()) {
        std::uint16_t date = 0, time = 0;
        if (!tools::ParseDosDateTime(options.date, date, time)) {
            throw PackerError("bad date '" + options.date + "': give YYYY-MM-DD HH:MM:SS, years 1980 to 2107, even seconds");
        }
        for (const CabinetEntry& entry : entries) SetEntryDateTime(cabinet, entry, date, time);
    }
    if (!options.attributes.empty() || !options.date.empty()) {
        entries = ReadCabinetEntries(cabinet);
        CheckNamesAsTheLauncherDoes(entries);
    }
}

// The final cabinet must decode completely, and the program to start is read back from it: the
// MD5 of what cabextract extracts.
std::string ProgramDigest(TemporaryFolder& work, const std::vector<std::uint8_t>& cabinet, const CabinetEntry& program) {
    const std::string checked = work.File("checked.cab");
    WriteFileWhole(checked, cabinet);
    RunTool({"cabextract", "-q", "-t", checked}, nullptr, "checking the cabinet");
    std::string programBytes;
    RunTool({"cabextract", "-q", "-p", "-F", program.name, checked}, &programBytes, "reading the program to start");
    if (programBytes.size() != program.size) {
        throw PackerError("reading the program to start: '" + program.name + "' did not come back whole from the cabinet");
    }
    tools::Digest md5(tools::DigestAlgorithm::kMd5);
    md5.Update(programBytes.data(), programBytes.size());
    return tools::HexBytes(md5.Finish());
}

// The cabinet scrambled as the launcher's payload, once descrambling has given the cabinet back.
std::vector<std::uint8_t> ScrambledPayload(const std::vector<std::uint8_t>& cabinet) {
    std::vector<std::uint8_t> payload = cabinet;
    qarv::ScramblePayload(payload.data(), payload.size());
    std::vector<std::uint8_t> roundTrip = payload;
    qarv::DescramblePayload(roundTrip.data(), roundTrip.size());
    if (roundTrip != cabinet || (payload == cabinet && !cabinet.empty())) {
        throw PackerError("round trip failed: descrambling the payload does not give the cabinet back");
    }
    return payload;
}

void PrintSummary(const Options& options, const std::string& source, const std::vector<CabinetEntry>& entries,
                  std::size_t cabinetSize, std::size_t payloadSize, const std::string& programDigest) {
    std::printf("qarv-packer: %s\n", source.c_str());
    std::printf("  %-4s %-32s %10s  %-11s %s\n", "#", "file", "bytes", "attributes", "date (local)");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CabinetEntry& entry = entries[i];
        std::printf("  %-4zu %-32s %10u  %-11s %s%s\n", i + 1, entry.name.c_str(), entry.size,
                    tools::FormatAttributes(entry.attributes).c_str(), tools::DescribeDosDateTime(entry.date, entry.time).c_str(),
                    i + 1 == entries.size() ? "  <- program to start (closed last)" : "");
    }
    const std::size_t chunks = PayloadChunkCount(payloadSize);
    const std::uint32_t lastChunk = PayloadChunkLength((chunks - 1) * kPayloadChunkSize, payloadSize);
    std::printf("  cabinet      %zu bytes, %zu files\n", cabinetSize, entries.size());
    std::printf("  payload      %s: %zu bytes in %zu chunks (%zu of %u bytes, last %u bytes)\n",
                options.output.c_str(), payloadSize, chunks, lastChunk == kPayloadChunkSize ? chunks : chunks - 1,
                kPayloadChunkSize, lastChunk);
    std::printf("  round trip   ok\n");
    std::printf("  program MD5  %s  %s\n", programDigest.c_str(), entries.back().name.c_str());
}

int Pack(const Options& options) {
    TemporaryFolder work;
    std::string source;
    std::vector<std::uint8_t> cabinet = InstallerCabinet(options, work, source);
    std::vector<CabinetEntry> entries = CheckedEntries(options, cabinet);
    ApplyEntryOptions(options, cabinet, entries);
    const std::string programDigest = ProgramDigest(work, cabinet, entries.back());
    const std::vector<std::uint8_t> payload = ScrambledPayload(cabinet);

    if (!options.keepCabinet.empty()) WriteFileWhole(options.keepCabinet, cabinet);
    WriteFileWhole(options.output, payload);
    PrintSummary(options, source, entries, cabinet.size(), payload.size(), programDigest);
    return 0;
}

// The command line in `options`; an exit status instead when the run ends here (help: 0, a usage
// error: 2, its message printed). Throws PackerError for bad attribute letters.
std::optional<int> ParseArguments(int argc, char** argv, Options& options) {
    enum { kOutput = 256, kCabinet, kFolder, kProgram, kKeepCabinet, kDate, kAttributes };
    static const option kOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"output", required_argument, nullptr, kOutput},
        {"cabinet", required_argument, nullptr, kCabinet},
        {"folder", required_argument, nullptr, kFolder},
        {"program", required_argument, nullptr, kProgram},
        {"keep-cabinet", required_argument, nullptr, kKeepCabinet},
        {"date", required_argument, nullptr, kDate},
        {"attributes", required_argument, nullptr, kAttributes},
        {nullptr, 0, nullptr, 0},
    };
    // Messages are the packer's own ("opterr = 0", ':' first): a missing value and an unknown
    // option are told apart. '-' first keeps the arguments in order and hands over the rest as 1.
    opterr = 0;
    for (;;) {
        const int at = optind;  // the argument being read: getopt_long only moves past it
        const int code = getopt_long(argc, argv, "-:h", kOptions, nullptr);
        if (code == -1) break;
        switch (code) {
            case 'h':
                std::fputs(kUsage, stdout);
                return 0;
            case kOutput: options.output = optarg; break;
            case kCabinet: options.cabinet = optarg; break;
            case kFolder: options.folder = optarg; break;
            case kProgram: options.program = optarg; break;
            case kKeepCabinet: options.keepCabinet = optarg; break;
            case kDate: options.date = optarg; break;
            case kAttributes: {
                const std::string value = optarg;
                const std::size_t equals = value.rfind('=');
                if (equals == std::string::npos || equals == 0) {
                    std::fprintf(stderr, "qarv-packer: --attributes takes NAME=LETTERS\n");
                    return kExitUsage;
                }
                const std::string letters = value.substr(equals + 1);
                std::uint16_t attributes = 0;
                if (!tools::ParseAttributeLetters(letters, attributes)) {
                    throw PackerError("bad attributes '" + letters + "': use the letters r, h, s, a, or - for none");
                }
                options.attributes.emplace_back(value.substr(0, equals), attributes);
                break;
            }
            case ':':
                std::fprintf(stderr, "qarv-packer: %s needs a value\n%s", argv[at], kUsage);
                return kExitUsage;
            default:  // '?', or 1: an argument that is no option
                std::fprintf(stderr, "qarv-packer: unknown option %s\n%s", code == 1 ? optarg : argv[at], kUsage);
                return kExitUsage;
        }
    }
    if (optind < argc) {  // after "--"
        std::fprintf(stderr, "qarv-packer: unknown option %s\n%s", argv[optind], kUsage);
        return kExitUsage;
    }
    if (options.output.empty() || options.cabinet.empty() == options.folder.empty() ||
        options.folder.empty() != options.program.empty()) {
        std::fprintf(stderr, "qarv-packer: give --output, and either --cabinet or --folder with --program\n%s", kUsage);
        return kExitUsage;
    }
    if (!options.cabinet.empty() && (!options.attributes.empty() || !options.date.empty())) {
        std::fprintf(stderr, "qarv-packer: --date and --attributes go with --folder; a given cabinet is packed as it is\n");
        return kExitUsage;
    }
    return std::nullopt;
}

}  // namespace
}  // namespace qarv::tools::packer

int main(int argc, char** argv) {
    try {
        qarv::tools::packer::Options options;
        if (const std::optional<int> status = qarv::tools::packer::ParseArguments(argc, argv, options)) return *status;
        return qarv::tools::packer::Pack(options);
    } catch (const qarv::tools::packer::PackerError& error) {
        std::fprintf(stderr, "qarv-packer: error: %s\n", error.what());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qarv-packer: error: %s\n", error.what());
    }
    return qarv::tools::packer::kExitFailure;
}
