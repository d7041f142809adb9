#include "markers.h"

#include <algorithm>

#include "command_line.h"
#include "launcher/constants.h"
#include "launcher/tail_marker.h"

namespace {

const std::string lineEnd = " \r\n";

// The bytes a tag may hold: printable ASCII. Anything else ends the search
// backwards for the start of a line (the previous line's LF, the zero
// padding of the launcher's last section, or binary data appended to it).
bool isTagByte(char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x7f;
}

std::string windowOf(const std::string& tail) {
    return tail.size() > markerWindowSize ? tail.substr(tail.size() - markerWindowSize) : tail;
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// "msi.tag" without its ".tag".
std::string stemOf(const std::string& tag) {
    const std::string suffix = ".tag";
    return tag.size() > suffix.size() && tag.compare(tag.size() - suffix.size(), suffix.size(), suffix) == 0
               ? tag.substr(0, tag.size() - suffix.size())
               : tag;
}

}  // namespace

const char* const knownMarkerTags[knownMarkerTagCount] = {msiMarkerTag, exitCodeMarkerTag};

std::string knownTagEffect(const std::string& tag, bool seen) {
    if (tag == msiMarkerTag) {
        return seen ? "silent runs (-s) take the MSI quiet form" : "silent runs (-s) pass -s -SMS";
    }
    return seen ? "the run's exit code is the installer's own, 1603 when the run ends before the installer "
                  "starts, 1618 when the installer still runs after six minutes (0 after the usage box)"
                : "every run ends with exit code 1 (0 after the usage box)";
}

const char* nearMissOf(const std::string& tag) {
    for (const char* known : knownMarkerTags) {
        if (tag.find(known) != std::string::npos) return nullptr;
    }
    for (const char* known : knownMarkerTags) {
        const std::string lower = lowerCase(tag);
        const std::string knownLower = lowerCase(known);
        if (lower == knownLower || lower == stemOf(knownLower) || editDistance(lower, knownLower) <= 2) return known;
    }
    return nullptr;
}

std::string markerTagProblem(const std::string& tag, bool anyMarker) {
    const std::string problem = tagProblem(tag);
    if (!problem.empty()) return problem;
    for (const char* known : knownMarkerTags) {
        if (tag == known) return "";
    }
    if (const char* meant = nearMissOf(tag)) {
        return std::string("not a tag the launcher knows; did you mean ") + meant +
               "? (it compares tags exactly, case included)";
    }
    if (anyMarker) return "";
    std::string known;
    for (const char* name : knownMarkerTags) known += (known.empty() ? "" : ", ") + std::string(name);
    return "not a tag the launcher knows (it knows " + known + "); give --any-marker to write it all the same";
}

std::string tagProblem(const std::string& tag) {
    if (tag.empty()) return "a marker tag must not be empty";
    if (tag.size() > maxTagLength) {
        return "a marker tag may hold at most " + std::to_string(maxTagLength) + " bytes (this one has " +
               std::to_string(tag.size()) + ") so that its line fits in the last " + std::to_string(markerWindowSize) +
               " bytes the launcher reads";
    }
    for (char c : tag) {
        if (c == '\r' || c == '\n') return "a marker tag must not hold a line break";
        if (c == '\0') return "a marker tag must not hold a zero byte";
        // Other bytes would end the line when it is read back: a line's
        // start is only known where printable ASCII begins.
        if (!isTagByte(c)) return "a marker tag may hold only printable ASCII characters";
    }
    return "";
}

std::string markerBlock(const std::vector<std::string>& tags) {
    std::string block;
    for (const std::string& tag : tags) block += tag + lineEnd;
    return block;
}

std::vector<std::string> tagsOfMarkerText(const std::string& text) {
    std::vector<std::string> tags;
    size_t start = 0;
    for (size_t end = text.find(lineEnd); end != std::string::npos; end = text.find(lineEnd, start)) {
        while (start < end && text[start] == '\0') ++start;
        if (end > start) tags.push_back(text.substr(start, end - start));
        start = end + lineEnd.size();
    }
    return tags;
}

size_t trailingMarkerLinesStart(const std::string& bytes, size_t floor) {
    size_t end = bytes.size();
    while (end >= floor + lineEnd.size() + 1 && bytes.compare(end - lineEnd.size(), lineEnd.size(), lineEnd) == 0) {
        const size_t tagEnd = end - lineEnd.size();
        size_t start = tagEnd;
        while (start > floor && isTagByte(bytes[start - 1]) && tagEnd - start < markerWindowSize) --start;
        // An empty tag, or printable text running on before it: no line of ours.
        if (start == tagEnd || (start > floor && isTagByte(bytes[start - 1]))) break;
        end = start;
    }
    return end;
}

bool launcherSeesTag(const std::string& tail, const std::string& tag) {
    const std::string window = windowOf(tail);
    return windowHoldsTag(reinterpret_cast<const unsigned char*>(window.data()), window.size(), tag.c_str()) == 1;
}

TailAnalysis analyseTail(const std::string& tail, uint64_t fileSize, const std::vector<FileSpan>& notMarkerText) {
    TailAnalysis analysis;
    analysis.fileSize = fileSize;
    analysis.windowOffset = markerWindowOffset(static_cast<unsigned long>(fileSize));
    const uint64_t tailOffset = fileSize - tail.size();
    // Where lines are looked for: the bytes that are not marker text zeroed,
    // so that no line starts, ends or runs in them.
    std::string lines = tail;
    for (const FileSpan& span : notMarkerText) {
        const uint64_t begin = std::max(span.begin, tailOffset);
        const uint64_t end = std::min(span.end, fileSize);
        if (begin < end) lines.replace(begin - tailOffset, end - begin, end - begin, '\0');
    }

    for (size_t end = lines.find(lineEnd); end != std::string::npos; end = lines.find(lineEnd, end + 1)) {
        size_t start = end;
        while (start > 0 && isTagByte(lines[start - 1]) && end - start < markerWindowSize) --start;
        // Longer than any window: text that happens to end in " \r\n".
        if (start == end || end - start >= markerWindowSize) continue;
        MarkerFinding finding;
        finding.tag = lines.substr(start, end - start);
        const uint64_t lineStart = tailOffset + start;
        const uint64_t lineStop = tailOffset + end + lineEnd.size();
        finding.place = lineStart >= analysis.windowOffset  ? MarkerPlace::inside
                        : lineStop <= analysis.windowOffset ? MarkerPlace::outside
                                                            : MarkerPlace::straddling;
        finding.distanceFromEnd = fileSize - lineStart;
        finding.seenByLauncher = launcherSeesTag(tail, finding.tag);
        analysis.markers.push_back(finding);
    }
    analysis.msiTagSeen = launcherSeesTag(tail, msiMarkerTag);
    for (const char* known : knownMarkerTags) {
        if (launcherSeesTag(tail, known)) analysis.knownTagsSeen.push_back(known);
    }
    return analysis;
}

MarkerFindings markerFindings(const TailAnalysis& analysis) {
    MarkerFindings findings;
    for (const MarkerFinding& marker : analysis.markers) {
        if (!marker.seenByLauncher) {
            // Meant for the launcher, yet out of its sight: usually data
            // (a signature, say) appended after marking.
            findings.problems.push_back("marker " + quoted(marker.tag) + " starts " +
                                        std::to_string(marker.distanceFromEnd) +
                                        " bytes before the end of setup.exe, not within the last " +
                                        std::to_string(markerWindowSize) + "; the launcher does not see it");
            continue;
        }
        const char* meant = nearMissOf(marker.tag);
        if (meant == nullptr) continue;
        const bool meantSeen = std::find(analysis.knownTagsSeen.begin(), analysis.knownTagsSeen.end(), meant) !=
                               analysis.knownTagsSeen.end();
        (meantSeen ? findings.warnings : findings.problems)
            .push_back("marker " + quoted(marker.tag) + " is not " + meant +
                       ": the launcher compares tags exactly, case included" +
                       (meantSeen ? std::string(", and finds ") + meant + " in another line"
                                  : "; did you mean " + std::string(meant) + "?"));
    }
    return findings;
}

std::vector<std::string> tagsToAppend(const TailAnalysis& analysis, const std::vector<std::string>& tags,
                                      std::vector<std::string>& alreadyThere) {
    std::vector<std::string> toAppend;
    for (const std::string& tag : tags) {
        if (std::find(toAppend.begin(), toAppend.end(), tag) != toAppend.end() ||
            std::find(alreadyThere.begin(), alreadyThere.end(), tag) != alreadyThere.end()) {
            continue;
        }
        bool present = false;
        for (const MarkerFinding& marker : analysis.markers) {
            present = present || (marker.tag == tag && marker.place == MarkerPlace::inside && marker.seenByLauncher);
        }
        (present ? alreadyThere : toAppend).push_back(tag);
    }
    return toAppend;
}
