// Extracting a whole archive below a destination directory.
#pragma once

// Extracts every entry of the archive at `archivePath` below `destination`
// (created if missing, its last component only), each file first under a
// temporary name that replaces the final one only once the entry verified.
// Entries are extracted side by side on as many threads as there are
// processors (at most four), unless their names could meet each other's
// temporary files; everything seen from outside stays as one thread would
// leave it: the same files, and the same lines in the same order. Prints one
// line per problem to stderr and returns an ExitCode (exit_codes.h).
// `password` may be null (none given).
int extractArchive(const char* archivePath, const char* password, const char* destination);
