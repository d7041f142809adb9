#include "launcher/tail_marker.h"

#include <gtest/gtest.h>

#include <string>

#include "launcher/constants.h"

namespace {

int holds(const std::string& window, const char* tag) {
    return windowHoldsTag(reinterpret_cast<const unsigned char*>(window.data()), window.size(), tag);
}

std::string codeViewRecordThenMarkers() {
    std::string record("NB10", 4);
    record += std::string(12, '\0');
    record += "C:\\build\\setup.pdb";
    record += std::string(52 - record.size(), '\0');
    return std::string(150, '\0') + record + "other.tag \r\nmsi.tag \r\n";
}

TEST(WindowHoldsTag, FindsTagsAsCaseSensitiveSubstrings) {
    struct Case {
        std::string window;
        const char* tag;
        int expected;
    } cases[] = {
        {std::string(246, 'x') + "msi.tag \r\n", "msi.tag", 1},
        {std::string(249, 'x') + "msi.tag", "msi.tag", 1},
        {std::string(246, 'x') + "MSI.TAG \r\n", "msi.tag", 0},
        {std::string(256, 'x'), "msi.tag", 0},
        {codeViewRecordThenMarkers(), "msi.tag", 1},
        {std::string(100, '\0') + "msi.tag", "msi.tag", 1},
        {"msi.t" + std::string(1, '\0') + "ag", "msi.tag", 0},
        {"short file msi.tag", "msi.tag", 1},
        {"", "msi.tag", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(holds(c.window, c.tag), c.expected) << c.window;
}

TEST(WindowHoldsTag, LooksAtNoMoreThanTheWindow) {
    const std::string longer = std::string(markerWindowSize, 'x') + "msi.tag";
    EXPECT_EQ(holds(longer, "msi.tag"), 0);
}

TEST(MarkerWindowOffset, StartsTheWindowAtTheLast256Bytes) {
    EXPECT_EQ(markerWindowOffset(10000), 10000u - 256u);
    EXPECT_EQ(markerWindowOffset(256), 0u);
    EXPECT_EQ(markerWindowOffset(100), 0u);
    EXPECT_EQ(markerWindowOffset(0), 0u);
}

}  // namespace
