// Reading a payload folder, and what is refused before anything is written.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "medium_test_support.h"
#include "payload.h"

using namespace medium_test;

TEST(PayloadNames, ThoseWindowsWouldChangeOrRefuseAreProblems) {
    struct Case {
        const char* component;
        bool accepted;
    } cases[] = {
        {"readme.txt", true},   {"My Documents", true}, {".hidden", true},
        {"back\\slash", false}, {"trailing.", false},    {"trailing ", false},
        {"con.txt", false},     {"a:b", false},          {"star*", false},
        {"..", false},          {"tab\there", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(componentProblem(c.component).empty(), c.accepted) << c.component;
    }
}

TEST(PayloadNames, SetupProgramMustBeSpelledAsTheLauncherRunsIt) {
    struct Case {
        std::vector<std::string> rootNames;
        const char* expected;  // "" when fine
    } cases[] = {
        {{"SETUP.EXE"}, ""},
        {{"data.bin", "SETUP.EXE"}, ""},
        {{}, "no SETUP.EXE"},
        {{"install.exe"}, "no SETUP.EXE"},
        {{"setup.exe"}, "only setup.exe, which differs in case"},
        {{"a.txt", "Setup.Exe"}, "only Setup.Exe, which differs in case"},
    };
    for (const Case& c : cases) {
        const std::string problem = setupProgramProblem(c.rootNames, "payload");
        if (*c.expected == '\0') {
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_NE(problem.find(c.expected), std::string::npos) << problem;
        }
    }
}

TEST(PayloadScan, ListsFoldersBeforeTheirFilesWithSizes) {
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
    writeFile(scratch / "payload/docs/b.bin", std::string(1000, 'b'));
    Payload payload;
    std::string error;
    ASSERT_TRUE(scanPayload(scratch / "payload", payload, error)) << error;
    std::vector<std::string> names;
    for (const PayloadEntry& entry : payload.entries) names.push_back(entry.name);
    const std::vector<std::string> expected = {"PostProcess.cmd", "SETUP.EXE", "docs/", "docs/b.bin",
                                               "docs/empty/", "docs/readme.txt"};
    EXPECT_EQ(names, expected);
    uint64_t bytes = 0;
    for (const std::string& content : payloadContents(scratch / "payload")) {
        bytes += content.size() - content.find('=') - 1;
    }
    EXPECT_EQ(payload.totalBytes, bytes);
    EXPECT_EQ(payload.fileCount, 4u);
}

TEST(PayloadScan, RefusesWhatCannotGoOnAMedium) {
    struct Case {
        const char* what;
        void (*arrange)(const std::string& payload);
        const char* expected;
    } cases[] = {
        {"names that differ in case",
         [](const std::string& p) { writeFile(p + "/docs/README.TXT", "x"); }, "differ only in case"},
        {"a file and a folder that differ in case",
         [](const std::string& p) { writeFile(p + "/DOCS", "x"); }, "differ only in case"},
        {"a backslash in a name",
         [](const std::string& p) { writeFile(p + "/docs/a\\b.txt", "x"); }, "backslash"},
        {"a link loop",
         [](const std::string& p) { symlink("..", (p + "/docs/loop").c_str()); }, "link loop"},
        {"a dangling link",
         [](const std::string& p) { symlink("nowhere", (p + "/gone").c_str()); }, "cannot read"},
        {"a named pipe",
         [](const std::string& p) { mkfifo((p + "/pipe").c_str(), 0600); }, "neither a file nor a folder"},
        {"no SETUP.EXE", [](const std::string& p) { unlink((p + "/SETUP.EXE").c_str()); }, "no SETUP.EXE"},
    };
    for (const Case& c : cases) {
        ScratchDirectory scratch;
        const std::string path = scratch / "payload";
        makePayload(path);
        c.arrange(path);
        Payload payload;
        std::string error;
        EXPECT_FALSE(scanPayload(path, payload, error)) << c.what;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.what << ": " << error;
    }
}

TEST(PayloadScan, FollowsLinksToFilesAndWarnsAboutNonAsciiNames) {
    ScratchDirectory scratch;
    const std::string path = scratch / "payload";
    makePayload(path);
    writeFile(scratch / "outside.txt", "linked in");
    ASSERT_EQ(symlink((scratch / "outside.txt").c_str(), (path + "/linked.txt").c_str()), 0);
    writeFile(path + "/caf\xc3\xa9.txt", "x");
    Payload payload;
    std::string error;
    ASSERT_TRUE(scanPayload(path, payload, error)) << error;
    bool linked = false;
    for (const PayloadEntry& entry : payload.entries) linked = linked || (entry.name == "linked.txt" && entry.size == 9);
    EXPECT_TRUE(linked);
    ASSERT_EQ(payload.warnings.size(), 1u);
    EXPECT_NE(payload.warnings[0].find("ANSI code page"), std::string::npos);
}
