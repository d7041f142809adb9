// The signature block of a PE file as kestrune-medium reads and rewrites it
// (tools/medium/authenticode.cpp) over arbitrary files: reading never goes
// out of bounds, and a block it accepts, rewritten with marker lines, is
// read back with those lines as the file's last bytes, where the launcher
// sees them, and without them as before.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "authenticode.h"
#include "launcher/constants.h"
#include "marking.h"
#include "support/fuzz_check.h"

namespace {

bool launcherSees(const std::string& file, const std::string& tag) {
    const size_t keep = file.size() < markerScanSize ? file.size() : markerScanSize;
    return launcherSeesTag(file.substr(file.size() - keep), tag);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    const SignatureLayout layout = readSignatureLayout(file);
    markerTagsOf(file, layout);
    analyseProgram(file);
    for (bool drop : {false, true}) {
        const std::string image = imageForSigning(file, layout, drop);
        FUZZ_CHECK(image.size() <= file.size());
        FUZZ_CHECK(!layout.isPe || !readSignatureLayout(image).isSigned);
    }
    Marking marking;
    std::string error;
    markProgram(file, {msiMarkerTag}, marking, error);
    if (!layout.isSigned || !layout.blockProblem.empty()) return 0;

    const std::vector<std::string> tags = {msiMarkerTag, "other.tag"};
    std::string marked;
    if (!withSignatureMarkers(file, layout, tags, marked, error)) return 0;
    const SignatureLayout after = readSignatureLayout(marked);
    FUZZ_CHECK(after.isSigned && after.blockProblem.empty());
    FUZZ_CHECK(after.hasMarkerAttribute && after.markerText.end == marked.size());
    FUZZ_CHECK(after.bytesAfterTable == 0 && after.bytesAfterSignature == 0);
    const std::string block = markerBlock(tags);
    FUZZ_CHECK(marked.size() >= block.size() && marked.compare(marked.size() - block.size(), block.size(), block) == 0);
    FUZZ_CHECK(launcherSees(marked, msiMarkerTag) && launcherSees(marked, "other.tag"));
    const std::vector<std::string> found = markerTagsOf(marked, after);
    FUZZ_CHECK(found.size() >= 2 && found[found.size() - 2] == tags[0] && found.back() == tags[1]);

    // Written again with the same lines: the same bytes; without: no attribute.
    std::string again;
    FUZZ_CHECK(withSignatureMarkers(marked, after, tags, again, error) && again == marked);
    std::string cleared;
    FUZZ_CHECK(withSignatureMarkers(marked, after, {}, cleared, error));
    const SignatureLayout clearedLayout = readSignatureLayout(cleared);
    FUZZ_CHECK(clearedLayout.blockProblem.empty() && !clearedLayout.hasMarkerAttribute);
    return 0;
}
