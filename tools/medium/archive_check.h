// Checking package.zip as the launcher's extraction will meet it: every
// entry is read in full through libzip with the built-in password (which
// checks the password's check byte and each entry's CRC), and the archive's
// directory and names are put to unzip.exe's own reader and rules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "installer.h"

struct ArchiveEntryInfo {
    std::string name;
    bool directory = false;
    uint64_t size = 0;
};

struct ArchiveReport {
    bool opened = false;
    uint64_t archiveSize = 0;  // of package.zip itself
    std::vector<ArchiveEntryInfo> entries;
    size_t files = 0;
    size_t directories = 0;
    uint64_t bytes = 0;
    // Encrypted entries (every file must be; folders are stored without
    // data, so need not be), and those of them read in full with the
    // password and found whole.
    size_t encrypted = 0;
    size_t verified = 0;
    std::vector<std::string> problems;  // one line each
    std::vector<std::string> warnings;  // the medium works, but not quite as it looks
    std::vector<std::string> notes;     // informational lines
    bool hasSetupProgram = false;
    std::string setupEntry;  // the SETUP.EXE the launcher runs, as spelled in the archive
    bool setupRead = false;  // read whole: `setupInstaller` is what it is
    InstallerInfo setupInstaller;
};

// At most this many entries get a problem line of their own for their data
// (method, encryption, password, CRC); the rest are counted, so that an
// archive with a wrong password does not flood the report. Name problems
// are all listed.
constexpr size_t maxEntryProblemLines = 20;

// Why unzip.exe's reader cannot read the archive's directory or refuses its
// layout (overlapping entries), or "": a quick look (no data is
// decompressed) for the build to confirm what it wrote.
std::string extractorDirectoryProblem(const std::string& path);

ArchiveReport checkPackageArchive(const std::string& path, const char* password, bool showProgress);
