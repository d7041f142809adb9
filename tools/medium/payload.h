// The payload folder: every file and folder below it, as archive entries.
// Only regular files and folders are packed: a symbolic link, a device, a
// FIFO or a socket is refused, never followed or read. Every such problem is
// collected, so that one run names them all, before any output exists.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

struct PayloadEntry {
    std::string name;      // relative, '/' between components, a folder's ends in '/'
    std::string hostPath;  // where to read it
    bool directory = false;
    uint64_t size = 0;
    time_t modified = 0;
    // The file the scan found: it must still be this one when it is packed.
    // The change time differs even where a new file got the old inode.
    dev_t device = 0;
    ino_t inode = 0;
    timespec changed{};
};

// A pattern of names to leave out, and what it left out.
struct Exclusion {
    std::string pattern;
    bool byDefault = false;  // one of defaultExclusions, not given by --exclude
    size_t files = 0;
    size_t folders = 0;
};

// Left out unless asked otherwise: version control data and the Finder's
// folder settings, which no installation needs.
extern const char* const defaultExclusions[2];

struct Payload {
    std::vector<PayloadEntry> entries;  // folders before what they hold, names sorted
    size_t fileCount = 0;
    uint64_t totalBytes = 0;
    std::vector<std::string> problems;  // what cannot go on a medium, one line each
    std::vector<Exclusion> exclusions;
    std::string setupEntry;  // the name of the SETUP.EXE at the root (in any case), or ""
};

struct ScanOptions {
    // fnmatch patterns. One without '/' is matched against each name, one
    // with '/' against the path below the payload folder; a final '/'
    // matches folders only.
    std::vector<std::string> excludes;
    bool defaultExcludes = true;
    // Asked between entries; true ends the scan as "interrupted".
    bool (*cancelled)() = nullptr;
};

// Of the names at the root of a payload or package, the SETUP.EXE the
// launcher runs, in whatever case it stands there ("setup.exe": the
// launcher's "W\SETUP.EXE" finds it on Windows), or "". The exact spelling
// first: two spellings are a clash the name rules report.
std::string setupProgramEntry(const std::vector<std::string>& rootNames);
// Why the root's names lack SETUP.EXE, in any case, or "" when it is there.
std::string setupProgramProblem(const std::vector<std::string>& rootNames, const std::string& where);

// Reads the payload folder. False, with `error`, only when the folder itself
// is missing or unreadable or the scan was interrupted; what cannot go on a
// medium below it is listed in `payload.problems`.
bool scanPayload(const std::string& directory, const ScanOptions& options, Payload& payload, std::string& error);

// Opens a payload file for reading without following a link and without
// waiting (a FIFO put in its place would block an ordinary open), and checks
// that it is still the regular file the scan found, unchanged since. -1, with `error`, when
// it cannot be opened or is something else now.
int openPayloadFile(const PayloadEntry& entry, std::string& error);
