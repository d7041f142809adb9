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

// Why `tag` cannot be a marker line at all, or "" when it can.
std::string tagProblem(const std::string& tag);
std::string markerBlock(const std::vector<std::string>& tags);
// The tags of the marker lines in `text`, in order; zero bytes before a
// line (padding) are skipped, text after the last line is ignored.
std::vector<std::string> tagsOfMarkerText(const std::string& text);
// Where the run of whole marker lines that ends `bytes` begins (bytes.size()
// when it does not end in one), never before `floor`: lines appended behind
// a program's image, which a new signature takes over.
size_t trailingMarkerLinesStart(const std::string& bytes, size_t floor);

// The tags the launcher acts on; any other marker line it ignores.
constexpr size_t knownMarkerTagCount = 2;
extern const char* const knownMarkerTags[knownMarkerTagCount];
// What the known `tag` does to a run, as the launcher sees it (`seen`) or
// not.
std::string knownTagEffect(const std::string& tag, bool seen);
// The known tag that `tag` looks like a misspelling of (another case, no
// ".tag", a letter or two off), or nullptr. A tag that holds a known one
// whole is no miss: the launcher finds the known tag in it.
const char* nearMissOf(const std::string& tag);
// Why `tag` may not be written as a marker, or "": tagProblem's reasons, a
// near miss of a known tag (naming it), and, unless `anyMarker`, a tag the
// launcher does not know.
std::string markerTagProblem(const std::string& tag, bool anyMarker);

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
    std::vector<MarkerFinding> markers;      // in file order
    bool msiTagSeen = false;                 // what the launcher decides for msi.tag
    std::vector<std::string> knownTagsSeen;  // of knownMarkerTags
};

// Bytes of a file that are known not to be marker text (a signature's own
// data), from `begin` to `end`, as offsets in the file.
struct FileSpan {
    uint64_t begin = 0;
    uint64_t end = 0;
};

// `tail` is the end of a file of `fileSize` bytes (markerScanSize bytes of
// it, or all of a shorter file). No marker line is looked for within
// `notMarkerText`; what the launcher sees is decided on the bytes as they are.
TailAnalysis analyseTail(const std::string& tail, uint64_t fileSize, const std::vector<FileSpan>& notMarkerText = {});
// Whether the launcher finds `tag` in the window at the end of `tail`.
bool launcherSeesTag(const std::string& tail, const std::string& tag);

// What `check` reports of the marker lines at the end of setup.exe, and
// what `build` therefore refuses to write: lines the launcher does not
// see, and near misses of a known tag (a problem when the launcher does
// not see the known tag itself, a warning when it does).
struct MarkerFindings {
    std::vector<std::string> problems;
    std::vector<std::string> warnings;
};
MarkerFindings markerFindings(const TailAnalysis& analysis);

// Of `tags`, those to append: each once, and none whose line the launcher
// already sees in the tail. The others are listed in `alreadyThere`.
std::vector<std::string> tagsToAppend(const TailAnalysis& analysis, const std::vector<std::string>& tags,
                                      std::vector<std::string>& alreadyThere);
