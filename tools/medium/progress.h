// Progress of a long step (packing or checking an archive) as one line on
// stderr that rewrites itself: only when stderr is a terminal, so that logs
// and pipes get nothing of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Progress {
    bool shown = false;
    std::string verb;
    size_t filesDone = 0;
    size_t filesTotal = 0;
    uint64_t bytesDone = 0;
    uint64_t bytesTotal = 0;
    double lastDrawn = -1;  // seconds, monotonic
};

// Shown when `terminal` is true (pass isatty(STDERR_FILENO)).
Progress startProgress(const std::string& verb, size_t filesTotal, uint64_t bytesTotal, bool terminal);
void progressFileStarted(Progress& progress);
void progressBytes(Progress& progress, uint64_t bytes);
// Draws the last state and ends the line.
void finishProgress(Progress& progress);

// "512 bytes", "3.4 KiB", "12.0 MiB": sizes for people.
std::string sizeText(uint64_t bytes);
// The size of package.zip against what it unpacks to:
// "234.5 KiB, 34% of the 691.8 KiB unpacked".
std::string packedSizeText(uint64_t archiveBytes, uint64_t unpackedBytes);
// "1 folder", "3 folders".
std::string countText(size_t count, const char* one, const char* many);
