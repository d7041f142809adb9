// std::vector and std::string forms of the portable reader (zip_archive.h,
// entry_name.h, entry_clashes.h), and its input from a POSIX file, for host
// tools, tests and fuzzers:
// kestrune-medium and the unit tests read archives through these. unzip.exe
// links no C++ library and uses the plain forms.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "entry_clashes.h"
#include "entry_name.h"
#include "zip_archive.h"

// The archive in the open file `descriptor` (which must outlive the input),
// `size` bytes long; positional reads, so several threads may read at once.
ArchiveInput descriptorArchiveInput(const int& descriptor, uint64_t size);

// A central directory read whole: its bytes and its entries, whose names
// point into the bytes. It can be moved, not copied.
struct ZipDirectory {
    ZipDirectoryPlace place{};
    std::vector<uint8_t> bytes;
    std::vector<ZipEntry> entries;

    ZipDirectory() = default;
    ZipDirectory(ZipDirectory&&) = default;
    ZipDirectory& operator=(ZipDirectory&&) = default;
    ZipDirectory(const ZipDirectory&) = delete;
    ZipDirectory& operator=(const ZipDirectory&) = delete;
};

// Fills `directory`; when it is damaged part way, with the entries before the
// damage.
ZipStatus readZipDirectory(const ArchiveInput& input, ZipDirectory& directory);

// The entry's name as the archive holds it.
std::string entryNameText(const ZipEntry& entry);

// Names as unzip.exe reads them, in UTF-16: UTF-8 when `utf8` (the entry's
// flag), else code page 437, the host's stand-in for Windows' OEM code page.
// False for a name marked UTF-8 that is not.
bool decodeName(const std::string& bytes, bool utf8, std::u16string& wide);
bool entryWideName(const ZipEntry& entry, std::u16string& wide);
std::string utf8Text(const std::u16string& wide);
// A name in UTF-8 (the flag set): its UTF-16, with U+FFFD for bytes that are
// not UTF-8.
std::u16string wideText(const std::string& utf8);

ZipStatus findOverlappingEntries(const ArchiveInput& input, const ZipDirectory& directory,
                                 std::vector<ZipOverlap>& overlaps);

// extractEntry with a workspace of its own.
ZipStatus extractEntry(const ArchiveInput& input, const ZipEntry& entry, const char* password, const OutputSink& sink);

std::vector<EntryClash> findEntryClashes(const std::vector<std::u16string>& names);
// Names in UTF-8.
std::vector<EntryClash> findEntryClashes(const std::vector<std::string>& names);

const char* entryNameProblem(const std::u16string& name);
// A name in UTF-8, as one with the flag is read: a name that is not UTF-8
// is refused as unzip.exe refuses it.
const char* entryNameProblem(const std::string& name);
std::vector<std::string> entryNameComponents(const std::string& name);
std::string destinationDirectory(const std::string& destination);
// `directory` followed by the first `count` components of `name`.
std::string joinBelow(const std::string& directory, const std::string& name, size_t count, char separator);
