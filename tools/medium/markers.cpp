#include "markers.h"

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

}  // namespace

std::string tagProblem(const std::string& tag) {
    if (tag.empty()) return "a marker tag must not be empty";
    if (tag.size() > maxTagLength) {
        return "a marker tag may hold at most " + std::to_string(maxTagLength) + " bytes (this one has " +
               std::to_string(tag.size()) + ") so that its line fits in the last " +
               std::to_string(markerWindowSize) + " bytes the launcher reads";
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

bool launcherSeesTag(const std::string& tail, const std::string& tag) {
    const std::string window = windowOf(tail);
    return windowHoldsTag(reinterpret_cast<const unsigned char*>(window.data()), window.size(), tag.c_str()) == 1;
}

TailAnalysis analyseTail(const std::string& tail, uint64_t fileSize) {
    TailAnalysis analysis;
    analysis.fileSize = fileSize;
    analysis.windowOffset = markerWindowOffset(static_cast<unsigned long>(fileSize));
    const uint64_t tailOffset = fileSize - tail.size();

    for (size_t end = tail.find(lineEnd); end != std::string::npos; end = tail.find(lineEnd, end + 1)) {
        size_t start = end;
        while (start > 0 && isTagByte(tail[start - 1]) && end - start < markerWindowSize) --start;
        // Longer than any window: text that happens to end in " \r\n".
        if (start == end || end - start >= markerWindowSize) continue;
        MarkerFinding finding;
        finding.tag = tail.substr(start, end - start);
        const uint64_t lineStart = tailOffset + start;
        const uint64_t lineStop = tailOffset + end + lineEnd.size();
        finding.place = lineStart >= analysis.windowOffset ? MarkerPlace::inside
                        : lineStop <= analysis.windowOffset ? MarkerPlace::outside
                                                            : MarkerPlace::straddling;
        finding.distanceFromEnd = fileSize - lineStart;
        finding.seenByLauncher = launcherSeesTag(tail, finding.tag);
        analysis.markers.push_back(finding);
    }
    analysis.msiTagSeen = launcherSeesTag(tail, msiMarkerTag);
    return analysis;
}
