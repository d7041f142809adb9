// Which entry names are safe to extract, and where below the destination they
// go. Both '/' and '\' count as separators, as they do on Windows. Plain
// buffers only: unzip.exe links no C++ library (zip_reader_containers.h has
// std::string forms for host tools).
#pragma once

#include <stddef.h>

// Why the name of `length` bytes must not be extracted, or nullptr when it is
// safe: a safe name stays below the destination, names an ordinary file or
// directory (no device such as CON, COM1 or LPT\xb9) and keeps its spelling
// on Windows (no component ends in a dot or a blank). Whether two names of one
// archive name the same file is entry_clashes.h's question.
const char* entryNameProblem(const char* name, size_t length);

// One component of a name: the bytes between separators.
struct NameComponent {
    const char* text;
    size_t length;
};

// The components of a name, one per call: start with `position` 0; false
// after the last. A folder's trailing separator ends it without an empty
// component ("a/b/" gives "a", "b"); other empty components are given
// ("a//b" gives "a", "", "b"; "" gives one empty component).
bool nextNameComponent(const char* name, size_t length, size_t& position, NameComponent& component);

size_t nameComponentCount(const char* name, size_t length);

// Whether the name ends in a separator: a folder's entry.
bool nameIsFolder(const char* name, size_t length);

// The length of the destination without trailing separators, except one that
// a root needs ("C:\Keep\\" keeps "C:\Keep", "D:\\" keeps "D:\", "/" stays).
size_t destinationDirectoryLength(const char* destination, size_t length);

// Writes `directory` (as destinationDirectoryLength leaves it) followed by
// the first `count` components of `name`, joined by `separator`, and a
// terminating zero; false when `capacity` cannot hold it (then `out` holds
// no text). Enough is directoryLength + nameLength + 2.
bool joinBelow(char* out, size_t capacity, const char* directory, size_t directoryLength, const char* name,
               size_t nameLength, size_t count, char separator);
