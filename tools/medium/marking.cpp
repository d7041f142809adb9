#include "marking.h"

#include <algorithm>

#include "authenticode.h"

namespace {

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

TailAnalysis analyseProgram(const std::string& file) {
    const size_t keep = std::min(file.size(), markerScanSize);
    return analyseTail(file.substr(file.size() - keep), file.size(), signatureOwnBytes(readSignatureLayout(file)));
}

namespace {

void judge(Marking& marking) {
    marking.after = analyseProgram(marking.bytes);
    marking.findings = markerFindings(marking.after);
}

}  // namespace

Marking unchangedProgram(const std::string& file) {
    Marking marking;
    marking.bytes = file;
    judge(marking);
    return marking;
}

bool markProgram(const std::string& file, const std::vector<std::string>& tags, Marking& marking, std::string& error) {
    const SignatureLayout layout = readSignatureLayout(file);
    const TailAnalysis before = analyseProgram(file);
    if (!layout.isPe || !layout.isSigned) {
        marking.added = tagsToAppend(before, tags, marking.alreadyThere);
        marking.bytes = file + markerBlock(marking.added);
        judge(marking);
        return true;
    }
    std::vector<std::string> all = markerTagsOf(file, layout);
    for (const std::string& tag : tags) {
        if (contains(all, tag)) {
            bool seen = false;
            for (const MarkerFinding& marker : before.markers)
                seen = seen || (marker.tag == tag && marker.seenByLauncher);
            if (seen && !contains(marking.alreadyThere, tag)) marking.alreadyThere.push_back(tag);
            continue;
        }
        all.push_back(tag);
        marking.added.push_back(tag);
    }
    marking.intoSignature = true;
    if (!withSignatureMarkers(file, layout, all, marking.bytes, error)) return false;
    judge(marking);
    return true;
}
