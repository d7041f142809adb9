#include "extract_archive.h"

#include "entry_name.h"
#include "exit_codes.h"
#include "file_system.h"
#include "zip_archive.h"

#include <cstdio>
#include <vector>

namespace {

// Appended to a file's final name while it is being written and verified.
const char* const temporary_suffix = ".kestrune-part";

// Remembers the first problem's exit code; every problem gets a stderr line.
struct ProblemLog {
    int first_code = exit_success;

    void report(const std::string& subject, const char* problem, int code)
    {
        // Entry names are untrusted bytes: keep control characters off the console.
        std::string printable = subject;
        for (char& c : printable)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                c = '?';
        std::fprintf(stderr, "unzip: %s: %s\n", printable.c_str(), problem);
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

// Creates the first `count` components below the destination, one by one.
bool make_directories(const std::string& destination, const std::vector<std::string>& components,
                      size_t count)
{
    for (size_t depth = 1; depth <= count; ++depth)
        if (!make_directory(join_below(destination, components, depth, native_path_separator)))
            return false;
    return true;
}

// Receives an entry's data. The parent directories and the temporary file
// are made only when the first data arrives (or when an empty entry
// verified), so an entry that cannot be decrypted leaves nothing behind.
struct EntryWriter {
    const std::string* destination;
    const std::vector<std::string>* components;
    std::string temporary_path;
    OutputFile* file = nullptr;
    bool failed = false;

    bool open()
    {
        if (!make_directories(*destination, *components, components->size() - 1))
            return false;
        file = create_output_file(temporary_path);
        return file != nullptr;
    }

    bool write(const uint8_t* data, size_t length)
    {
        if (file == nullptr && !open())
            return false;
        return write_output_file(file, data, length);
    }

    // Closes the temporary file; true when it holds all the data.
    bool finish()
    {
        if (file == nullptr && !open())
            return false;
        const bool closed = close_output_file(file);
        file = nullptr;
        return closed;
    }

    void discard()
    {
        if (file != nullptr) {
            close_output_file(file);
            file = nullptr;
        }
        remove_file(temporary_path);
    }
};

bool write_to_entry_writer(void* context, const uint8_t* data, size_t length)
{
    return static_cast<EntryWriter*>(context)->write(data, length);
}

void extract_file(const ArchiveInput& input, const ZipEntry& entry, const char* password,
                  const std::string& destination, const std::vector<std::string>& components,
                  ProblemLog& log)
{
    const std::string final_path =
        join_below(destination, components, components.size(), native_path_separator);
    EntryWriter writer{&destination, &components, final_path + temporary_suffix};
    const ZipStatus status = extract_entry(input, entry, password, {write_to_entry_writer, &writer});
    if (status == ZipStatus::ok) {
        if (writer.finish() && replace_file(writer.temporary_path, final_path))
            return;
        writer.discard();
        log.report(final_path, "cannot write file", exit_write_failed);
        return;
    }
    writer.discard();
    if (status == ZipStatus::output_failed) {
        log.report(final_path, "cannot write file", exit_write_failed);
    } else if (status == ZipStatus::damaged && zip_entry_is_encrypted(entry)) {
        // The cipher's check byte lets a wrong password through 1 time in 256;
        // it then shows up as bad data.
        log.report(entry.name, "bad CRC or data (damaged, or wrong password)", exit_damaged_archive);
    } else {
        log.report(entry.name, zip_status_text(status), exit_code_for(status));
    }
}

void extract_entries(const ArchiveInput& input, const std::vector<ZipEntry>& entries,
                     const char* password, const std::string& destination, ProblemLog& log)
{
    for (const ZipEntry& entry : entries) {
        if (const char* problem = entry_name_problem(entry.name)) {
            log.report(entry.name, problem, exit_refused_entry_name);
            continue;
        }
        const std::vector<std::string> components = entry_name_components(entry.name);
        if (zip_entry_is_directory(entry)) {
            if (!make_directories(destination, components, components.size()))
                log.report(entry.name, "cannot create directory", exit_write_failed);
            continue;
        }
        extract_file(input, entry, password, destination, components, log);
    }
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
    if (directory_status == ZipStatus::ok || !entries.empty()) {
        const std::string directory = destination_directory(destination);
        if (make_directory(directory))
            extract_entries(input, entries, password, directory, log);
        else
            log.report(directory, "cannot create destination directory", exit_write_failed);
    }
    close_input_file(file);
    return log.first_code;
}
