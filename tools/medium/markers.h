// Marker lines at the end of setup.exe: "tag", one blank, CR, LF. The
// launcher looks only at the last markerWindowSize bytes of its file and
// counts a tag when its text occurs there (launcher/tail_marker.cpp); this
// file writes such lines and finds them again, deciding what the launcher
// sees with the launcher's own windowHoldsTag.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Room is left in the 256-byte window for the line's end and for other
// markers such as msi.tag beside a long one.
constexpr size_t maxTagLength = 200;
// How much of a file's end is searched for marker lines that the launcher
// cannot see (behind a signature or other appended data, say).
constexpr size_t markerScanSize = 64 * 1024;

// Why `tag` cannot be a marker, or "" when it can.
std::string tagProblem(const std::string& tag);
std::string markerBlock(const std::vector<std::string>& tags);

enum class MarkerPlace {
    inside,      // the whole line stands in the window
    straddling,  // the line starts before the window and ends inside it
    outside,     // the whole line stands before the window
};

struct MarkerFinding {
    std::string tag;
    MarkerPlace place;
    uint64_t distanceFromEnd;  // from the line's first byte to the end of the file
    bool seenByLauncher;       // windowHoldsTag finds the tag's text in the window
};

struct TailAnalysis {
    uint64_t fileSize = 0;
    uint64_t windowOffset = 0;
    std::vector<MarkerFinding> markers;  // in file order
    bool msiTagSeen = false;             // what the launcher decides for msi.tag
};

// `tail` is the end of a file of `fileSize` bytes (markerScanSize bytes of
// it, or all of a shorter file).
TailAnalysis analyseTail(const std::string& tail, uint64_t fileSize);
// Whether the launcher finds `tag` in the window at the end of `tail`.
bool launcherSeesTag(const std::string& tail, const std::string& tag);
