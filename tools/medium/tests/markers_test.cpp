// Marker tags and what the launcher sees of marker lines at a file's end.
#include <gtest/gtest.h>

#include "launcher/constants.h"
#include "markers.h"
#include "medium_test_support.h"

using namespace medium_test;

namespace {

// Binary data as a signature appended after marking would be: no zero
// bytes and no line ends, so nothing in it looks like a marker line.
std::string appendedData(size_t count) { return std::string(count, '\x82'); }

const std::string msiLine = std::string(msiMarkerTag) + " \r\n";

}  // namespace

TEST(MarkerTags, AreRefusedWhenTheyCannotBeAMarkerLine) {
    struct Case {
        std::string tag;
        const char* expectedProblem;  // nullptr: accepted
    } cases[] = {
        {"msi.tag", nullptr},
        {"with blank", nullptr},
        {std::string(maxTagLength, 'x'), nullptr},
        {"", "must not be empty"},
        {"a\rb", "line break"},
        {"a\nb", "line break"},
        {std::string("a\0b", 3), "zero byte"},
        {"a\tb", "printable ASCII"},
        {"caf\xc3\xa9", "printable ASCII"},
        {std::string(maxTagLength + 1, 'x'), "at most"},
    };
    for (const Case& c : cases) {
        const std::string problem = tagProblem(c.tag);
        if (c.expectedProblem == nullptr) {
            EXPECT_EQ(problem, "") << c.tag;
        } else {
            EXPECT_NE(problem.find(c.expectedProblem), std::string::npos) << c.tag << ": " << problem;
        }
    }
}

TEST(MarkerLines, WrittenTagsAreFoundAgainInOrder) {
    const std::vector<std::vector<std::string>> tagSets = {
        {"msi.tag"},
        {"first", "second tag", "msi.tag"},
        {"caret^tag", "punctuation !\"#$%&'()*+,-./:;<=>?@[\\]_`{|}~"},
    };
    for (const auto& tags : tagSets) {
        const std::string file = fakeLauncher() + markerBlock(tags);
        const TailAnalysis analysis = analyseTail(file, file.size());
        ASSERT_EQ(analysis.markers.size(), tags.size());
        for (size_t i = 0; i < tags.size(); ++i) {
            EXPECT_EQ(analysis.markers[i].tag, tags[i]);
            EXPECT_EQ(analysis.markers[i].place, MarkerPlace::inside);
            EXPECT_TRUE(analysis.markers[i].seenByLauncher);
        }
    }
}

TEST(MarkerLines, ArePlacedAgainstTheWindowAsTheLauncherReadsIt) {
    struct Case {
        const char* what;
        std::string line;   // the marker line
        size_t bytesAfter;  // appended behind it
        bool zeroFill;      // zero bytes behind it rather than other data
        MarkerPlace place;
        bool lineSeen;  // windowHoldsTag finds the line's tag
        bool msiSeen;
    } cases[] = {
        {"at the very end", msiLine, 0, false, MarkerPlace::inside, true, true},
        {"behind zero bytes, which the launcher bridges", msiLine, 100, true, MarkerPlace::inside, true, true},
        {"starting exactly at the window", msiLine, markerWindowSize - msiLine.size(), false, MarkerPlace::inside, true,
         true},
        {"one byte before the window", msiLine, markerWindowSize - msiLine.size() + 1, false, MarkerPlace::straddling,
         false, false},
        {"ending exactly where the window starts", msiLine, markerWindowSize, false, MarkerPlace::outside, false,
         false},
        {"behind a signature", msiLine, 300, false, MarkerPlace::outside, false, false},
        // Only "xx" is cut off: the rest still holds msi.tag for the launcher.
        {"a longer tag cut before msi.tag", "xx" + msiLine, markerWindowSize - msiLine.size(), false,
         MarkerPlace::straddling, false, true},
        {"another tag that holds msi.tag", "no" + msiLine, 0, false, MarkerPlace::inside, true, true},
    };
    for (const Case& c : cases) {
        const std::string after = c.zeroFill ? std::string(c.bytesAfter, '\0') : appendedData(c.bytesAfter);
        const std::string file = fakeLauncher() + c.line + after;
        const TailAnalysis analysis = analyseTail(file, file.size());
        ASSERT_EQ(analysis.markers.size(), 1u) << c.what;
        const MarkerFinding& marker = analysis.markers.front();
        EXPECT_EQ(marker.tag, c.line.substr(0, c.line.size() - 3)) << c.what;
        EXPECT_EQ(marker.place, c.place) << c.what;
        EXPECT_EQ(marker.distanceFromEnd, c.line.size() + c.bytesAfter) << c.what;
        EXPECT_EQ(marker.seenByLauncher, c.lineSeen) << c.what;
        EXPECT_EQ(analysis.msiTagSeen, c.msiSeen) << c.what;
        EXPECT_EQ(analysis.windowOffset, file.size() - markerWindowSize) << c.what;
    }
}

TEST(MarkerLines, AShortFileIsAllWindow) {
    const std::string file = "MZ" + msiLine;
    const TailAnalysis analysis = analyseTail(file, file.size());
    EXPECT_EQ(analysis.windowOffset, 0u);
    ASSERT_EQ(analysis.markers.size(), 1u);
    // The tag runs back to the file's first byte: "MZ" is printable.
    EXPECT_EQ(analysis.markers[0].tag, "MZmsi.tag");
    EXPECT_TRUE(analysis.msiTagSeen);
}

TEST(MarkerLines, TextWithoutALineEndIsNoMarker) {
    const std::string file = fakeLauncher() + "msi.tag\r\n" + "msi.tag \n";
    const TailAnalysis analysis = analyseTail(file, file.size());
    EXPECT_TRUE(analysis.markers.empty());
    // The launcher still finds the text: it does not look at line ends.
    EXPECT_TRUE(analysis.msiTagSeen);
}

TEST(MarkerLines, TheTagsOfMarkerTextAreReadInOrderPastZeroPadding) {
    struct Case {
        std::string text;
        std::vector<std::string> tags;
    } cases[] = {
        {"", {}},
        {"msi.tag \r\n", {"msi.tag"}},
        {std::string(5, '\0') + "msi.tag \r\nother \r\n", {"msi.tag", "other"}},
        {"msi.tag \r\nunfinished", {"msi.tag"}},
        {" \r\nmsi.tag \r\n", {"msi.tag"}},
    };
    for (const Case& c : cases) EXPECT_EQ(tagsOfMarkerText(c.text), c.tags) << c.text;
}

TEST(MarkerLines, TheRunOfLinesThatEndsAFileIsFoundButNeverBelowItsFloor) {
    const std::string image = std::string(16, 'M') + std::string(4, '\0');
    struct Case {
        const char* what;
        std::string bytes;
        size_t floor;
        size_t start;
    } cases[] = {
        {"no lines", image, 16, image.size()},
        {"two lines", image + msiLine + "b \r\n", 16, image.size()},
        {"text without a line end", image + "msi.tag", 16, image.size() + 7},
        // Printable text longer than any tag running on before it: no line.
        {"a line glued to long text", image + std::string(300, 't') + msiLine, 16, image.size() + 300 + msiLine.size()},
        // Bytes below the floor (the program's sections) are never part of a tag.
        {"a line at the floor", std::string(16, 'M') + msiLine, 16, 16},
        {"a line from the file's start", std::string(16, 'M') + msiLine, 0, 0},
        {"an empty tag", image + " \r\n", 16, image.size() + 3},
    };
    for (const Case& c : cases) EXPECT_EQ(trailingMarkerLinesStart(c.bytes, c.floor), c.start) << c.what;
}
