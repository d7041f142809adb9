// Which entry names are safe to extract, and where below the destination they
// go. The rules work on the name as Windows will spell it, in UTF-16 (see
// decodeEntryName). Both '/' and '\' count as separators, as they do on
// Windows. Plain buffers only: unzip.exe links no C++ library
// (zip_reader_containers.h has std::string forms for host tools).
#pragma once

#include <stddef.h>

#include "unicode_text.h"
#include "zip_archive.h"

// The longest name component Windows allows, in UTF-16 units; a file's own
// name must leave room in it for unzip.exe's part suffix.
constexpr size_t longestNameComponent = 255;
constexpr size_t partSuffixLength = 14;  // ".kestrune-part" and its spares
constexpr size_t longestFileName = longestNameComponent - partSuffixLength;

// Reads a name without the UTF-8 flag: the code page the archive's tools
// wrote such names in (on Windows, the OEM code page). Writes at most
// `length` units to `out`; returns how many, or undecodableName.
using OemNameDecoder = size_t (*)(const char* bytes, size_t length, char16_t* out);
constexpr size_t undecodableName = notUtf8;

// The entry's name in UTF-16 into `out` (room for entry.nameLength units):
// UTF-8 when the entry's flag says so, else read by `oem`. Returns its
// length, or undecodableName, for which undecodableNameProblem says why.
size_t decodeEntryName(const ZipEntry& entry, OemNameDecoder oem, char16_t* out);
const char* undecodableNameProblem(const ZipEntry& entry);

// Why the name of `length` units must not be extracted, or nullptr when it is
// safe: a safe name stays below the destination, names an ordinary file or
// directory (no device such as CON, COM1 or LPT¹) and keeps its spelling
// on Windows (no component ends in a dot or a blank), and each component
// fits in what Windows allows. Whether two names of one archive name the
// same file is entry_clashes.h's question.
const char* entryNameProblem(const char16_t* name, size_t length);

template <typename Char>
inline bool isNameSeparator(Char c) {
    return c == '/' || c == '\\';
}

// One component of a name: the units between separators.
template <typename Char>
struct NameComponentOf {
    const Char* text;
    size_t length;
};
using NameComponent = NameComponentOf<char16_t>;

// The components of a name, one per call: start with `position` 0; false
// after the last. A folder's trailing separator ends it without an empty
// component ("a/b/" gives "a", "b"); other empty components are given
// ("a//b" gives "a", "", "b"; "" gives one empty component).
template <typename Char>
bool nextNameComponent(const Char* name, size_t length, size_t& position, NameComponentOf<Char>& component) {
    if (position > length || (position == length && position > 0 && isNameSeparator(name[length - 1]))) return false;
    size_t end = position;
    while (end < length && !isNameSeparator(name[end])) ++end;
    component = NameComponentOf<Char>{name + position, end - position};
    position = end + 1;
    return true;
}

template <typename Char>
size_t nameComponentCount(const Char* name, size_t length) {
    size_t count = 0;
    size_t position = 0;
    NameComponentOf<Char> component;
    while (nextNameComponent(name, length, position, component)) ++count;
    return count;
}

// Whether the name ends in a separator: a folder's entry.
template <typename Char>
bool nameIsFolder(const Char* name, size_t length) {
    return length > 0 && isNameSeparator(name[length - 1]);
}

// Whether an opened file or folder stands where its name says: its final
// path (as the platform reports the path of an open handle) is the final
// path of the folder it was opened in, a backslash and `name` (in either
// case, as Windows compares names). A final path with a link followed on
// the way names the link's target instead. The folder's final path may end
// in a backslash (a drive's root).
bool standsInPlace(const char16_t* folderFinal, size_t folderLength, const char16_t* name, size_t nameLength,
                   const char16_t* entryFinal, size_t entryLength);

// The length of the destination without trailing separators, except one that
// a root needs ("C:\Keep\\" keeps "C:\Keep", "D:\\" keeps "D:\", "/" stays).
size_t destinationDirectoryLength(const char* destination, size_t length);

// Writes `directory` (as destinationDirectoryLength leaves it) followed by
// the first `count` components of `name` (the bytes the archive holds, for
// lines that name a place), joined by `separator`, and a terminating zero;
// false when `capacity` cannot hold it (then `out` holds no text). Enough is
// directoryLength + nameLength + 2.
bool joinBelow(char* out, size_t capacity, const char* directory, size_t directoryLength, const char* name,
               size_t nameLength, size_t count, char separator);
