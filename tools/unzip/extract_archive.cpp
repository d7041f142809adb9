#include "extract_archive.h"

#include "entry_clashes.h"
#include "entry_name.h"
#include "exit_codes.h"
#include "file_system.h"
#include "zip_archive.h"

#include <cstdio>
#include <vector>

namespace {

// Appended to a file's final name while it is being written and verified.
// When something stands at that name already (a part file an earlier run
// left, or a link or a folder someone planted), the spare suffixes of the
// same length are tried in turn: what stands there is neither opened nor
// removed, and cannot keep the entry out.
const char* const temporary_suffix = ".kestrune-part";
const char* const spare_suffix_start = ".kestrune-p"; // and three digits
constexpr int spare_suffixes = 99;

std::string part_name_for(const std::string& final_name, int attempt)
{
    if (attempt == 0)
        return final_name + temporary_suffix;
    const char digits[] = {static_cast<char>('0' + attempt / 100 % 10), static_cast<char>('0' + attempt / 10 % 10),
                           static_cast<char>('0' + attempt % 10), '\0'};
    return final_name + spare_suffix_start + digits;
}

// Remembers the first problem's exit code; every problem gets a stderr line.
struct ProblemLog {
    int first_code = exit_success;

    void report(const std::string& subject, const std::string& problem, int code)
    {
        // Entry names are untrusted bytes: keep control characters off the console.
        std::string printable = subject;
        for (char& c : printable)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                c = '?';
        std::fprintf(stderr, "unzip: %s: %s\n", printable.c_str(), problem.c_str());
        if (first_code == exit_success)
            first_code = code;
    }
};

int exit_code_for(ZipStatus status)
{
    switch (status) {
    case ZipStatus::ok: return exit_success;
    case ZipStatus::damaged: return exit_damaged_archive;
    case ZipStatus::unsupported: return exit_unsupported;
    case ZipStatus::wrong_password: return exit_wrong_password;
    case ZipStatus::read_failed: return exit_archive_unreadable;
    case ZipStatus::output_failed: return exit_write_failed;
    }
    return exit_damaged_archive;
}

// A file-system refusal at `path`; `failure` says what could not be done.
void report_file_system(ProblemLog& log, const std::string& path, FileSystemStatus status, const char* failure)
{
    switch (status) {
    case FileSystemStatus::ok: return;
    case FileSystemStatus::link:
        log.report(path, "a link stands here; nothing is written through it", exit_refused_entry_name);
        return;
    case FileSystemStatus::in_the_way:
        log.report(path, std::string(failure) + ": something else stands here", exit_write_failed);
        return;
    case FileSystemStatus::failed: log.report(path, failure, exit_write_failed); return;
    }
}

std::string path_below(const std::string& destination, const std::vector<std::string>& components, size_t count)
{
    return join_below(destination, components, count, native_path_separator);
}

std::string part_path(const std::string& destination, std::vector<std::string> components,
                      const std::string& part_name)
{
    components.back() = part_name;
    return path_below(destination, components, components.size());
}

// The folders of the entry being written, open from the destination down;
// the next entry keeps those at the start of its path that are the same.
class FolderChain {
public:
    explicit FolderChain(const Directory& destination) : destination_(destination) {}
    FolderChain(const FolderChain&) = delete;
    FolderChain& operator=(const FolderChain&) = delete;
    ~FolderChain() { close_from(0); }

    // Opens the first `count` components, creating the missing ones; on
    // failure `failed_count` is the number of components up to the one that
    // failed.
    FileSystemStatus open(const std::vector<std::string>& components, size_t count, size_t& failed_count)
    {
        size_t kept = 0;
        while (kept < open_.size() && kept < count && names_[kept] == components[kept])
            ++kept;
        close_from(kept);
        for (size_t index = kept; index < count; ++index) {
            Directory* folder = nullptr;
            const FileSystemStatus status = open_subdirectory(innermost(), components[index], folder);
            if (status != FileSystemStatus::ok) {
                failed_count = index + 1;
                return status;
            }
            open_.push_back(folder);
            names_.push_back(components[index]);
        }
        return FileSystemStatus::ok;
    }

    const Directory& innermost() const
    {
        if (open_.empty())
            return destination_;
        return *open_.back();
    }

private:
    void close_from(size_t count)
    {
        while (open_.size() > count) {
            close_directory(open_.back());
            open_.pop_back();
            names_.pop_back();
        }
    }

    const Directory& destination_;
    std::vector<Directory*> open_;
    std::vector<std::string> names_;
};

// Receives an entry's data. The parent directories and the temporary file
// are made only when the first data arrives (or when an empty entry
// verified), so an entry that cannot be decrypted leaves nothing behind.
struct EntryWriter {
    FolderChain* folders;
    const std::vector<std::string>* components;
    std::string part_name;
    OutputFile* file = nullptr;
    FileSystemStatus failure = FileSystemStatus::ok;
    size_t failed_count = 0; // components up to a folder that failed; 0: the file

    bool open()
    {
        failure = folders->open(*components, components->size() - 1, failed_count);
        if (failure != FileSystemStatus::ok)
            return false;
        for (int attempt = 0; attempt <= spare_suffixes; ++attempt) {
            part_name = part_name_for(components->back(), attempt);
            failure = create_new_file(folders->innermost(), part_name, file);
            if (failure != FileSystemStatus::link && failure != FileSystemStatus::in_the_way)
                break;
        }
        return failure == FileSystemStatus::ok;
    }

    bool write(const uint8_t* data, size_t length)
    {
        if (file == nullptr && !open())
            return false;
        if (write_output_file(file, data, length))
            return true;
        failure = FileSystemStatus::failed;
        return false;
    }

    void discard()
    {
        if (file != nullptr)
            discard_output_file(file, folders->innermost(), part_name);
        file = nullptr;
    }
};

bool write_to_entry_writer(void* context, const uint8_t* data, size_t length)
{
    return static_cast<EntryWriter*>(context)->write(data, length);
}

void report_writer_failure(ProblemLog& log, const EntryWriter& writer, const std::string& destination,
                           const std::vector<std::string>& components)
{
    if (writer.failed_count != 0)
        report_file_system(log, path_below(destination, components, writer.failed_count), writer.failure,
                           "cannot create directory");
    else
        report_file_system(log, part_path(destination, components, writer.part_name), writer.failure,
                           "cannot write file");
}

void extract_file(const ArchiveInput& input, const ZipEntry& entry, const char* password,
                  const std::string& destination, FolderChain& folders,
                  const std::vector<std::string>& components, ProblemLog& log)
{
    EntryWriter writer{&folders, &components, part_name_for(components.back(), 0)};
    const ZipStatus status = extract_entry(input, entry, password, {write_to_entry_writer, &writer});
    if (status == ZipStatus::ok) {
        if (writer.file == nullptr && !writer.open()) {
            report_writer_failure(log, writer, destination, components);
            return;
        }
        const FileSystemStatus committed =
            commit_output_file(writer.file, folders.innermost(), writer.part_name, components.back());
        writer.file = nullptr;
        report_file_system(log, path_below(destination, components, components.size()), committed,
                           "cannot write file");
        return;
    }
    writer.discard();
    if (status == ZipStatus::output_failed) {
        report_writer_failure(log, writer, destination, components);
    } else if (status == ZipStatus::damaged && zip_entry_is_encrypted(entry)) {
        // The cipher's check byte lets a wrong password through 1 time in 256;
        // it then shows up as bad data.
        log.report(entry.name, "bad CRC or data (damaged, or wrong password)", exit_damaged_archive);
    } else {
        log.report(entry.name, zip_status_text(status), exit_code_for(status));
    }
}

void extract_entries(const ArchiveInput& input, const std::vector<ZipEntry>& entries, const char* password,
                     const std::string& destination, const Directory& destination_directory, ProblemLog& log)
{
    FolderChain folders(destination_directory);
    for (const ZipEntry& entry : entries) {
        if (const char* problem = entry_name_problem(entry.name)) {
            log.report(entry.name, problem, exit_refused_entry_name);
            continue;
        }
        const std::vector<std::string> components = entry_name_components(entry.name);
        if (zip_entry_is_directory(entry)) {
            size_t failed_count = 0;
            const FileSystemStatus status = folders.open(components, components.size(), failed_count);
            if (status != FileSystemStatus::ok)
                report_file_system(log, path_below(destination, components, failed_count), status,
                                   "cannot create directory");
            continue;
        }
        extract_file(input, entry, password, destination, folders, components, log);
    }
}

// Two entries that would be one file on Windows: which one the package gets
// would depend on their order. Refused whole, before anything is written.
bool refuse_clashing_names(const std::vector<ZipEntry>& entries, ProblemLog& log)
{
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const ZipEntry& entry : entries)
        names.push_back(entry.name);
    const std::vector<EntryClash> clashes = find_entry_clashes(names);
    for (const EntryClash& clash : clashes)
        log.report(names[clash.entry], "names the same file as " + names[clash.other] + " on Windows (" +
                                           clash.reason + "); nothing is extracted",
                   exit_refused_entry_name);
    return !clashes.empty();
}

// Entries sharing stored bytes: refused whole, as Info-ZIP does.
bool refuse_overlapping_entries(const ArchiveInput& input, const std::vector<ZipEntry>& entries,
                                const std::string& archive_path, ProblemLog& log)
{
    std::vector<ZipOverlap> overlaps;
    const ZipStatus status = find_overlapping_entries(input, entries, overlaps);
    if (status != ZipStatus::ok) {
        log.report(archive_path, zip_status_text(status), exit_code_for(status));
        return true;
    }
    for (const ZipOverlap& overlap : overlaps) {
        const std::string other =
            overlap.other < entries.size() ? entries[overlap.other].name : std::string("the central directory");
        log.report(entries[overlap.entry].name,
                   "its data overlaps " + other + " (a possible zip bomb); nothing is extracted",
                   exit_refused_entry_name);
    }
    return !overlaps.empty();
}

// What the archive says it will write: the declared sizes of the files that
// will be tried. Entries refused by name, and those whose data is not in the
// archive (refused as damaged before they write anything), do not count.
uint64_t declared_bytes_to_write(const ArchiveInput& input, const std::vector<ZipEntry>& entries)
{
    uint64_t total = 0;
    for (const ZipEntry& entry : entries) {
        ZipExtent extent{};
        if (!zip_entry_is_directory(entry) && entry_name_problem(entry.name) == nullptr &&
            find_entry_extent(input, entry, extent) == ZipStatus::ok)
            total += entry.uncompressed_size; // at most 65535 times 4 GiB: no overflow
    }
    return total;
}

// A volume that cannot take what the archive declares is refused before the
// first byte, rather than filled and left with part of a package.
bool refuse_without_space(const ArchiveInput& input, const std::vector<ZipEntry>& entries,
                          const Directory& directory, const std::string& destination, ProblemLog& log)
{
    uint64_t free_bytes = 0;
    const uint64_t needed = declared_bytes_to_write(input, entries);
    // When the system cannot say, writing finds out.
    if (!query_free_space(directory, free_bytes) || needed <= free_bytes)
        return false;
    log.report(destination, "the archive declares " + std::to_string(needed) + " bytes, but only " +
                                std::to_string(free_bytes) + " are free there; nothing is extracted",
               exit_write_failed);
    return true;
}

} // namespace

int extract_archive(const std::string& archive_path, const char* password,
                    const std::string& destination)
{
    ProblemLog log;
    InputFile* file = open_input_file(archive_path);
    if (file == nullptr) {
        log.report(archive_path, "cannot open archive", exit_archive_unreadable);
        return log.first_code;
    }
    const ArchiveInput input = input_file_archive(file);
    std::vector<ZipEntry> entries;
    const ZipStatus directory_status = read_central_directory(input, entries);
    if (directory_status != ZipStatus::ok)
        log.report(archive_path, zip_status_text(directory_status), exit_code_for(directory_status));

    // A damaged directory may still have yielded entries that can be saved.
    if ((directory_status == ZipStatus::ok || !entries.empty()) && !refuse_clashing_names(entries, log) &&
        !refuse_overlapping_entries(input, entries, archive_path, log)) {
        const std::string directory_path = destination_directory(destination);
        Directory* directory = nullptr;
        const FileSystemStatus opened = open_destination(directory_path, directory);
        if (opened != FileSystemStatus::ok) {
            report_file_system(log, directory_path, opened, "cannot create destination directory");
        } else {
            if (!refuse_without_space(input, entries, *directory, directory_path, log))
                extract_entries(input, entries, password, directory_path, *directory, log);
            close_directory(directory);
        }
    }
    close_input_file(file);
    return log.first_code;
}
