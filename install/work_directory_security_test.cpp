#include "install/work_directory_security.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

unsigned read16(const Bytes& bytes, size_t at) { return bytes.at(at) | (bytes.at(at + 1) << 8); }
unsigned long read32(const Bytes& bytes, size_t at) {
    return read16(bytes, at) | (static_cast<unsigned long>(read16(bytes, at + 2)) << 16);
}

// A security identifier in its usual text form, S-1-5-32-544.
std::string sidText(const Bytes& bytes, size_t at) {
    unsigned long long authority = 0;
    for (int i = 0; i < 6; ++i) authority = (authority << 8) | bytes.at(at + 2 + i);
    std::string text = "S-" + std::to_string(bytes.at(at)) + "-" + std::to_string(authority);
    for (unsigned i = 0; i < bytes.at(at + 1); ++i) text += "-" + std::to_string(read32(bytes, at + 8 + 4 * i));
    return text;
}

// Every entry of the list at `at` as "type flags mask sid"; checks the
// list's own header against its entries on the way.
std::vector<std::string> listEntries(const Bytes& bytes, size_t at) {
    std::vector<std::string> entries;
    EXPECT_EQ(bytes.at(at), 2u) << "list revision";
    const unsigned size = read16(bytes, at + 2);
    const unsigned count = read16(bytes, at + 4);
    size_t entry = at + 8;
    for (unsigned i = 0; i < count; ++i) {
        const unsigned entrySize = read16(bytes, entry + 2);
        EXPECT_EQ(entrySize % 4, 0u);
        char head[64];
        std::snprintf(head, sizeof head, "%02x %02x %08lx ", bytes.at(entry), bytes.at(entry + 1),
                      read32(bytes, entry + 4));
        entries.push_back(head + sidText(bytes, entry + 8));
        EXPECT_EQ(8 + 8 + 4 * bytes.at(entry + 9), entrySize) << "entry size holds exactly its identifier";
        entry += entrySize;
    }
    EXPECT_EQ(entry - at, size) << "list size";
    return entries;
}

// S-1-5-21-1004362972-1177238915-682003330-1001, a usual local user.
const Bytes userSid = {1,    5,    0,    0,    0,    0,    0,    5,    21,   0,    0,    0,    0xDC, 0x5C,
                       0xDD, 0x3B, 0x83, 0x3D, 0x2B, 0x46, 0x82, 0x8B, 0xA6, 0x28, 0xE9, 0x03, 0,    0};
const std::string userText = "S-1-5-21-1004362972-1177238915-682003330-1001";

TEST(WorkDirectorySecurity, TheListIsProtectedAndGrantsSystemAdministratorsAndTheUserOnly) {
    for (const bool elevated : {false, true}) {
        unsigned char out[workDirectoryDescriptorCapacity];
        const size_t size = buildWorkDirectoryDescriptor(userSid.data(), userSid.size(), elevated, out, sizeof out);
        ASSERT_GT(size, 20u) << elevated;
        const Bytes descriptor(out, out + size);
        EXPECT_EQ(descriptor[0], 1u) << "revision";
        const unsigned control = read16(descriptor, 2);
        EXPECT_EQ(control & 0x8000u, 0x8000u) << "self-relative";
        EXPECT_EQ(control & 0x1004u, 0x1004u) << "access list present and protected: nothing inherited";
        EXPECT_EQ(read32(descriptor, 4), 0u) << "no owner: the platform's default";
        EXPECT_EQ(read32(descriptor, 8), 0u) << "no group";

        const std::vector<std::string> grants = {
            "00 03 001f01ff S-1-5-18",
            "00 03 001f01ff S-1-5-32-544",
            "00 03 001f01ff " + userText,
        };
        EXPECT_EQ(listEntries(descriptor, read32(descriptor, 16)), grants) << elevated;

        // The label only when elevated: high, no write up, inherited.
        EXPECT_EQ((control & 0x0010u) != 0, elevated);
        if (elevated) {
            EXPECT_EQ(listEntries(descriptor, read32(descriptor, 12)),
                      std::vector<std::string>{"11 03 00000001 S-1-16-12288"});
        } else {
            EXPECT_EQ(read32(descriptor, 12), 0u);
        }
    }
}

TEST(WorkDirectorySecurity, AnIdentifierThatIsNotWholeOrARoomTooSmallBuildsNothing) {
    unsigned char out[workDirectoryDescriptorCapacity];
    EXPECT_EQ(buildWorkDirectoryDescriptor(userSid.data(), userSid.size() - 1, false, out, sizeof out), 0u);
    EXPECT_EQ(buildWorkDirectoryDescriptor(nullptr, 0, false, out, sizeof out), 0u);
    const Bytes badRevision = {2, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    EXPECT_EQ(buildWorkDirectoryDescriptor(badRevision.data(), badRevision.size(), false, out, sizeof out), 0u);
    const size_t needed = buildWorkDirectoryDescriptor(userSid.data(), userSid.size(), true, out, sizeof out);
    EXPECT_EQ(buildWorkDirectoryDescriptor(userSid.data(), userSid.size(), true, out, needed - 1), 0u);
    // The largest identifier still fits.
    Bytes largest = {1, 15, 0, 0, 0, 0, 0, 5};
    largest.resize(largestSidSize, 7);
    EXPECT_GT(buildWorkDirectoryDescriptor(largest.data(), largest.size(), true, out, sizeof out), 0u);
}

TEST(WorkDirectorySecurity, ElevatedMeansHighIntegrityOrLocalSystem) {
    const Bytes system = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    const Bytes networkService = {1, 1, 0, 0, 0, 0, 0, 5, 20, 0, 0, 0};
    EXPECT_TRUE(sidIsLocalSystem(system.data(), system.size()));
    EXPECT_FALSE(sidIsLocalSystem(networkService.data(), networkService.size()));
    EXPECT_FALSE(sidIsLocalSystem(userSid.data(), userSid.size()));
    EXPECT_FALSE(sidIsLocalSystem(system.data(), system.size() - 1));
    struct Case {
        unsigned long level;
        bool system;
        bool elevated;
    } cases[] = {
        {0x1000, false, false},  // low
        {0x2000, false, false},  // medium: a plain user, or an administrator not elevated
        {0x2100, false, false},  // medium plus
        {0x3000, false, true},   // high: elevated
        {0x4000, false, true},   // system level
        {0, true, true},         // LocalSystem where the platform has no labels
        {0, false, false},
    };
    for (const Case& c : cases) EXPECT_EQ(runsElevated(c.level, c.system), c.elevated) << c.level;
}

}  // namespace
