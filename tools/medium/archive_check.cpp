#include "archive_check.h"

#include "archive_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "command_line.h"
#include "file_io.h"
#include "medium_names.h"
#include "name_rules.h"
#include "payload.h"
#include "pe_file.h"
#include "progress.h"
#include "zip_format.h"
#include "zip_reader_containers.h"

namespace {

// Enough of SETUP.EXE's start for peImageProblem.
constexpr size_t setupHeadSize = (1 << 20) + 64;

struct EntryProblems {
    ArchiveReport* report;
    size_t count = 0;

    void add(const std::string& name, const std::string& problem) {
        if (++count <= maxEntryProblemLines) report->problems.push_back(quoted(name) + ": " + problem);
    }
    void finish() {
        if (count > maxEntryProblemLines) {
            report->problems.push_back(std::to_string(count - maxEntryProblemLines) +
                                       " more entry problems (not listed)");
        }
    }
};

// The archive's directory as unzip.exe's reader sees them: it refuses
// methods other than store and deflate, strong encryption, names that could
// leave the work directory, and entries whose stored bytes overlap (one
// stream for many entries, a zip bomb). The overlaps are looked for only in
// a directory that was read whole.
struct ExtractorView {
    ZipStatus status = ZipStatus::readFailed;
    ZipDirectory directory;
    std::vector<ZipOverlap> overlaps;
};

ExtractorView readExtractorView(const std::string& path) {
    ExtractorView view;
    Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.fd < 0) return view;
    const off_t size = lseek(file.fd, 0, SEEK_END);
    const ArchiveInput input = descriptorArchiveInput(file.fd, static_cast<uint64_t>(size < 0 ? 0 : size));
    view.status = readZipDirectory(input, view.directory);
    if (view.status == ZipStatus::ok) view.status = findOverlappingEntries(input, view.directory, view.overlaps);
    return view;
}

// An entry dated at an end of what the archive holds: its own time was
// probably outside and was moved there (as build does, and Info-ZIP zip for
// its DOS fields), so the file will not have its own time.
std::string clampedTimeWarning(const ZipEntry& entry) {
    const char* const moved = "; the file's own time was probably outside and was moved to it";
    if (entry.hasUnixTime) {
        if (entry.unixTime != earliestArchiveTime && entry.unixTime != latestArchiveTime) return "";
        return "dated " + utcTimeText(entry.unixTime) + ", the " +
               (entry.unixTime == earliestArchiveTime ? "earliest" : "latest") + " time an entry can hold" + moved;
    }
    const uint16_t earliestDate = 1 << 5 | 1;             // 1980-01-01
    const uint16_t latestDate = 127 << 9 | 12 << 5 | 31;  // 2107-12-31
    const uint16_t latestTime = 23 << 11 | 59 << 5 | 29;  // 23:59:58
    if (entry.dosDate == earliestDate && entry.dosTime == 0) {
        return std::string("dated 1980-01-01 00:00:00, the earliest time its DOS fields hold") + moved;
    }
    if (entry.dosDate == latestDate && entry.dosTime == latestTime) {
        return std::string("dated 2107-12-31 23:59:58, the latest time its DOS fields hold") + moved;
    }
    return "";
}

std::string statusProblem(ZipStatus status) {
    return std::string("unzip.exe cannot read the archive: ") + zipStatusText(status);
}

// unzip.exe refuses the whole archive for each of these.
std::vector<std::string> overlapProblems(const ExtractorView& view) {
    std::vector<std::string> problems;
    for (const ZipOverlap& overlap : view.overlaps) {
        const std::vector<ZipEntry>& entries = view.directory.entries;
        const std::string other = overlap.other < entries.size()
                                      ? "that of " + quoted(entryNameText(entries[overlap.other]))
                                      : std::string("the archive's central directory");
        problems.push_back("damaged archive: the stored data of " + quoted(entryNameText(entries[overlap.entry])) +
                           " overlaps " + other +
                           " (one stream read as many entries, a zip bomb); unzip.exe "
                           "refuses the whole archive");
    }
    return problems;
}

// True when entries overlap: the archive as a whole is refused.
bool checkWithExtractorReader(const std::string& path, ArchiveReport& report, EntryProblems& problems) {
    const ExtractorView view = readExtractorView(path);
    if (view.status != ZipStatus::ok) report.problems.push_back(statusProblem(view.status));
    const std::vector<std::string> overlaps = overlapProblems(view);
    report.problems.insert(report.problems.end(), overlaps.begin(), overlaps.end());
    std::vector<ArchiveName> names;
    for (const ZipEntry& entry : view.directory.entries) {
        names.push_back(ArchiveName{entryNameText(entry), (entry.flags & flagUtf8Name) != 0});
    }
    for (const NameFinding& finding : nameFindings(names)) {
        (finding.refused ? report.problems : report.warnings).push_back(finding.line());
    }
    for (const ZipEntry& entry : view.directory.entries) {
        const std::string warning = clampedTimeWarning(entry);
        if (!warning.empty()) report.warnings.push_back(quoted(entryNameText(entry)) + ": " + warning);
    }
    for (const ZipEntry& entry : view.directory.entries) {
        if (entry.method != 0 && entry.method != 8) {
            problems.add(entryNameText(entry), "compressed with method " + std::to_string(entry.method) +
                                                   "; unzip.exe reads only stored and deflated entries");
        }
        if (!zipEntryIsEncrypted(entry) && !zipEntryIsDirectory(entry)) {
            problems.add(entryNameText(entry),
                         "not encrypted; the package must be encrypted with the launcher's password");
        }
    }
    return !overlaps.empty();
}

std::string libzipText(zip_error_t* error) { return zip_error_strerror(error); }

// Reads the entry through libzip, whose reading checks the CRC at the end;
// true when it was read whole. Hands what it reads to `scan` (SETUP.EXE's
// header check and installer markers).
bool verifyEntry(zip_t* archive, zip_uint64_t index, const zip_stat_t& stat, const char* password,
                 EntryProblems& problems, Progress& progress, InstallerScan* scan) {
    if (stat.encryption_method != ZIP_EM_NONE && stat.encryption_method != ZIP_EM_TRAD_PKWARE) {
        problems.add(stat.name, "encrypted with a method unzip.exe cannot decrypt (only traditional PKWARE)");
        return false;
    }
    zip_file_t* file = zip_fopen_index_encrypted(archive, index, 0, password);
    if (file == nullptr) {
        const int code = zip_error_code_zip(zip_get_error(archive));
        problems.add(stat.name, code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_NOPASSWD
                                    ? std::string("does not open with the launcher's package password")
                                    : "cannot be opened: " + libzipText(zip_get_error(archive)));
        return false;
    }
    std::vector<char> buffer(1 << 16);
    uint64_t total = 0;
    bool failed = false;
    for (;;) {
        const zip_int64_t got = zip_fread(file, buffer.data(), buffer.size());
        if (got < 0) {
            const int code = zip_error_code_zip(zip_file_get_error(file));
            // The check byte lets one wrong password in 256 through; the data
            // then fails to inflate or to match its CRC.
            problems.add(stat.name, code == ZIP_ER_CRC || code == ZIP_ER_COMPRESSED_DATA || code == ZIP_ER_ZLIB
                                        ? "bad data or CRC (damaged, or encrypted with another password)"
                                        : "cannot be read: " + libzipText(zip_file_get_error(file)));
            failed = true;
            break;
        }
        if (got == 0) break;
        if (scan != nullptr) scan->add(buffer.data(), static_cast<size_t>(got));
        total += static_cast<uint64_t>(got);
        progressBytes(progress, static_cast<uint64_t>(got));
    }
    zip_fclose(file);
    if (failed) return false;
    if ((stat.valid & ZIP_STAT_SIZE) != 0 && total != stat.size) {
        problems.add(stat.name, "holds " + std::to_string(total) + " bytes, not the " + std::to_string(stat.size) +
                                    " its header states");
        return false;
    }
    return true;
}

std::string upperCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

bool isRootFile(const std::string& name) { return name.find('/') == std::string::npos; }

void noteScript(const ArchiveReport& report, std::vector<std::string>& notes) {
    for (const ArchiveEntryInfo& entry : report.entries) {
        if (entry.directory || !isRootFile(entry.name)) continue;
        if (entry.name == scriptFileName) {
            notes.push_back(std::string(scriptFileName) + ": present; the launcher runs it after " + setupProgramName);
            return;
        }
        if (upperCase(entry.name) == upperCase(scriptFileName)) {
            notes.push_back(std::string(scriptFileName) + ": present as " + quoted(entry.name) +
                            "; Windows finds it under either spelling, so it runs after " + setupProgramName);
            return;
        }
    }
    notes.push_back(std::string(scriptFileName) + ": not in the archive; nothing runs after " + setupProgramName);
}

}  // namespace

std::string extractorDirectoryProblem(const std::string& path) {
    const ExtractorView view = readExtractorView(path);
    if (view.status != ZipStatus::ok) return statusProblem(view.status);
    const std::vector<std::string> overlaps = overlapProblems(view);
    return overlaps.empty() ? "" : overlaps.front();
}

ArchiveReport checkPackageArchive(const std::string& path, const char* password, bool showProgress) {
    ArchiveReport report;
    EntryProblems problems{&report};
    // First as unzip.exe reads it: libzip refuses some archives (overlapping
    // entries among them) without saying why.
    const bool overlapping = checkWithExtractorReader(path, report, problems);
    int openError = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &openError);
    if (archive == nullptr) {
        zip_error_t details;
        zip_error_init_with_code(&details, openError);
        // libzip's reason for an archive whose entries overlap ("Not a zip
        // archive") says less than the overlap lines.
        if (!overlapping) {
            report.problems.push_back(std::string(packageFileName) +
                                      " cannot be opened as a ZIP archive: " + libzipText(&details));
        }
        zip_error_fini(&details);
        problems.finish();
        return report;
    }
    report.opened = true;
    struct stat status;
    if (stat(path.c_str(), &status) == 0) report.archiveSize = static_cast<uint64_t>(status.st_size);

    const zip_int64_t count = zip_get_num_entries(archive, 0);
    std::vector<zip_stat_t> stats;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        // Names as unzip.exe reads them: UTF-8 when marked so, else in the
        // OEM code page (437 here).
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_STRICT, &stat) != 0 ||
            (stat.valid & ZIP_STAT_NAME) == 0) {
            report.problems.push_back("entry " + std::to_string(i) +
                                      " cannot be read: " + libzipText(zip_get_error(archive)));
            continue;
        }
        ArchiveEntryInfo info;
        info.name = stat.name;
        info.directory = !info.name.empty() && info.name.back() == '/';
        info.size = (stat.valid & ZIP_STAT_SIZE) != 0 ? stat.size : 0;
        report.entries.push_back(info);
        (info.directory ? report.directories : report.files) += 1;
        report.bytes += info.size;
        stats.push_back(stat);
    }

    std::vector<std::string> rootNames;
    for (const ArchiveEntryInfo& entry : report.entries) {
        if (!entry.directory && isRootFile(entry.name)) rootNames.push_back(entry.name);
    }
    report.setupEntry = setupProgramEntry(rootNames);
    InstallerScan setupScan(setupHeadSize);
    bool setupVerified = false;
    Progress progress = startProgress("checking", report.files, report.bytes, showProgress);
    for (const zip_stat_t& stat : stats) {
        const std::string name = stat.name;
        const bool isSetup = !report.setupEntry.empty() && name == report.setupEntry;
        const bool encrypted = stat.encryption_method != ZIP_EM_NONE;
        const bool directory = !name.empty() && name.back() == '/';
        // A folder stored as `zip -P` stores it, without data and unencrypted,
        // has nothing to read.
        if (directory && !encrypted) continue;
        if (!directory) progressFileStarted(progress);
        report.encrypted += encrypted ? 1 : 0;
        const bool whole =
            verifyEntry(archive, stat.index, stat, password, problems, progress, isSetup ? &setupScan : nullptr);
        if (whole && encrypted) report.verified += 1;
        if (isSetup) setupVerified = whole;
    }
    finishProgress(progress);
    zip_discard(archive);
    problems.finish();

    const std::string setupProblem = setupProgramProblem(rootNames, packageFileName);
    report.hasSetupProgram = setupProblem.empty();
    // Another case is no problem: Windows finds it under either spelling.
    const std::string spelling =
        report.setupEntry == setupProgramName
            ? ""
            : " as " + quoted(report.setupEntry) + " (Windows finds it under either spelling, as the launcher runs it)";
    if (!report.hasSetupProgram) {
        report.problems.push_back(setupProblem);
    } else if (!setupVerified) {
        // Its problem line, from the reading, says why it is not checked further.
        report.notes.push_back(std::string(setupProgramName) + ": at the archive root" + spelling);
    } else {
        const std::string peProblem = peImageProblem(setupScan.head());
        if (!peProblem.empty()) {
            report.problems.push_back(std::string(setupProgramName) + " is not a Windows program: " + peProblem);
        } else {
            report.setupRead = true;
            report.setupInstaller = setupScan.result();
            report.notes.push_back(std::string(setupProgramName) + ": at the archive root" + spelling +
                                   ", a Windows program: " + installerName(report.setupInstaller.kind));
        }
    }
    noteScript(report, report.notes);
    return report;
}
