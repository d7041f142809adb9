// The few file operations extraction needs. One implementation per platform:
// file_system_windows.cpp (ANSI Win32 calls) and file_system_posix.cpp.
#pragma once

#include "zip_archive.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern const char native_path_separator;

// True when `path` is a directory afterwards: created now or already there.
// Creates only the last component.
bool make_directory(const std::string& path);

struct OutputFile;

// Creates or truncates `path` for writing; nullptr on failure.
OutputFile* create_output_file(const std::string& path);
bool write_output_file(OutputFile* file, const uint8_t* data, size_t length);
// Closes and frees `file`; false when the data may not all have been stored.
bool close_output_file(OutputFile* file);

// Renames `from` to `to`, replacing a file already named `to`.
bool replace_file(const std::string& from, const std::string& to);
void remove_file(const std::string& path);

struct InputFile;

// Opens an existing file for reading; nullptr when it is missing or unreadable.
InputFile* open_input_file(const std::string& path);
// Reads the file through `file`, which must stay open while the input is used.
ArchiveInput input_file_archive(const InputFile* file);
void close_input_file(InputFile* file);
