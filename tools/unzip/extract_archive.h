// Extracting a whole archive below a destination directory.
#pragma once

#include <string>

// Extracts every entry of the archive at `archive_path` below `destination`
// (created if missing, its last component only), each file first under a
// temporary name that replaces the final one only once the entry verified.
// Prints one line per problem to stderr and returns an ExitCode
// (exit_codes.h). `password` may be null (none given).
int extract_archive(const std::string& archive_path, const char* password,
                    const std::string& destination);
