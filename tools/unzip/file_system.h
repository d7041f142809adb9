// The few file operations extraction needs. One implementation per platform:
// file_system_windows.cpp (ANSI Win32 calls) and file_system_posix.cpp.
//
// Below the destination nothing is ever reached through a link: each folder
// is created or opened by itself, inside its parent, without following a
// link (a junction or a directory symlink on Windows, a symlink on POSIX),
// and stays open while anything inside it is written, so that it cannot be
// swapped for a link meanwhile.
#pragma once

#include "zip_archive.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern const char native_path_separator;

enum class FileSystemStatus {
    ok,
    link,       // a link stands at the name: refused, never followed
    in_the_way, // something else stands at the name (a file where a folder
                // goes, a folder where a file goes)
    failed,     // the system refused; nothing was written
};

struct Directory;

// The destination, created first when missing (its last component only). It
// is the caller's choice, so a link in its own path is followed.
FileSystemStatus open_destination(const std::string& path, Directory*& directory);

// The folder `name` inside `parent`, created first when missing.
FileSystemStatus open_subdirectory(const Directory& parent, const std::string& name, Directory*& directory);

void close_directory(Directory* directory);

// Free bytes for this program on the volume that holds `directory`; false
// when the system cannot say.
bool query_free_space(const Directory& directory, uint64_t& free_bytes);

struct OutputFile;

// Creates the file `name` inside `parent`, new. Whatever stands at the name
// already is neither opened nor removed (Wine, seeing a Unix link to a file as
// a plain file, would remove the link's target): then `link` or `in_the_way`.
FileSystemStatus create_new_file(const Directory& parent, const std::string& name, OutputFile*& file);

bool write_output_file(OutputFile* file, const uint8_t* data, size_t length);

// Closes `file` and renames it, the very file written, to `final_name` in the
// same folder, replacing a file of that name. A link or a folder standing at
// `final_name` is refused and left as it is. On any failure the file is
// removed. `file` is freed in every case.
FileSystemStatus commit_output_file(OutputFile* file, const Directory& parent, const std::string& name,
                                    const std::string& final_name);

// Closes, removes and frees `file`.
void discard_output_file(OutputFile* file, const Directory& parent, const std::string& name);

struct InputFile;

// Opens an existing file for reading; nullptr when it is missing or unreadable.
InputFile* open_input_file(const std::string& path);
// Reads the file through `file`, which must stay open while the input is used.
ArchiveInput input_file_archive(const InputFile* file);
void close_input_file(InputFile* file);
