// The payload folder: every file and folder below it, as archive entries.
// Everything that would make the package fail on Windows is refused here,
// before any output exists.
#pragma once

#include <ctime>
#include <cstdint>
#include <string>
#include <vector>

struct PayloadEntry {
    std::string name;      // relative, '/' between components, a folder's ends in '/'
    std::string hostPath;  // where to read it
    bool directory = false;
    uint64_t size = 0;
    time_t modified = 0;
};

struct Payload {
    std::vector<PayloadEntry> entries;  // folders before what they hold, names sorted
    size_t fileCount = 0;
    uint64_t totalBytes = 0;
    std::vector<std::string> warnings;
};

// unzip.exe reads no zip64 archives: at most this many entries, each file
// below 4 GiB.
constexpr size_t maxPayloadEntries = 65534;
constexpr uint64_t maxPayloadFileSize = 0xfffffffeULL;

// Why one path component cannot be a name on a Windows medium, or "".
std::string componentProblem(const std::string& component);
// Why the payload root's names lack the SETUP.EXE the launcher runs, or ""
// when it is there; names another spelling of it when there is one.
std::string setupProgramProblem(const std::vector<std::string>& rootNames, const std::string& where);

// Reads the payload folder. False, with one line in `error`, when it is
// missing or unreadable or holds something that cannot go on the medium.
bool scanPayload(const std::string& directory, Payload& payload, std::string& error);
