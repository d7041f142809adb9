#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "box_recorder.h"
#include "launcher/kestrune.h"
#include "windows_test_support.h"
#include "text/bounded_text.h"

using namespace testing_support;

namespace {

struct ProgramPathGuard {
    char saved[pathBufferSize];
    ProgramPathGuard() { std::memcpy(saved, programPath, sizeof saved); }
    ~ProgramPathGuard() {
        std::memcpy(programPath, saved, sizeof saved);
        verboseMode = 0;
    }
};

TEST(GetProgramDirectory, CutsBeforeTheFileName) {
    ProgramPathGuard guard;
    const std::pair<const char*, const char*> programsAndDirectories[] = {
        {"E:\\SETUP.EXE", "E:\\"},
        {"C:\\Temp\\Pkg\\setup.exe", "C:\\Temp\\Pkg\\"},
        {"D:\\setup.exe files\\setup.exe", "D:\\setup.exe files\\"},
        // Start-up leaves the path empty when the platform's did not fit.
        {"", nullptr},
    };
    for (const auto& [program, directory] : programsAndDirectories) {
        copyText(programPath, program);
        char out[pathBufferSize] = "junk";
        EXPECT_EQ(getProgramDirectory(out), directory != nullptr ? 1 : 0) << program;
        EXPECT_STREQ(out, directory != nullptr ? directory : "") << program;
    }
}

TEST(GetProgramDirectory, ShowsTheWholeProgramPathInVerboseMode) {
    ProgramPathGuard guard;
    const std::string longPath = "C:\\" + std::string(240, 'p') + "\\setup.exe";
    copyText(programPath, longPath.c_str());
    verboseMode = 1;
    BoxWatcher watcher;
    char out[pathBufferSize];
    getProgramDirectory(out);
    const RecordedRun seen = watcher.stop();
    ASSERT_EQ(seen.boxes.size(), 1u);
    EXPECT_EQ(seen.boxes[0].caption, "Varnel Kestrune");
    EXPECT_EQ(seen.boxes[0].text, "ProgramPointer: " + longPath + "\n");
    EXPECT_EQ(std::string(out), "C:\\" + std::string(240, 'p') + "\\");
}

class TailMarkerFile : public ::testing::Test {
protected:
    void SetUp() override { directory_ = makeScratchDirectory("tail-marker"); }
    int markerIn(const std::string& content, const char* tag = "msi.tag") {
        const std::string path = directory_ + "\\launcher.bin";
        writeFile(path, content);
        copyText(programPath, path.c_str());
        return hasTailMarker(tag);
    }
    ProgramPathGuard guard_;
    std::string directory_;
};

TEST_F(TailMarkerFile, FindsOnlyTagsInTheLast256Bytes) {
    const std::string image(4096, '\x90');
    std::string debugRecord("NB10", 4);
    debugRecord += std::string(12, '\0') + "C:\\b\\setup.pdb" + std::string(22, '\0');
    struct Case {
        std::string content;
        int expected;
        const char* what;
    } cases[] = {
        {image + "msi.tag \r\n", 1, "marker line"},
        {image + "msi.tag", 1, "bare tag"},
        {image + "MSI.TAG \r\n", 0, "capitals"},
        {image + "msi.tag \r\n" + std::string(247, 'x'), 0, "more than 256 bytes before the end"},
        {image + "msi.tag \r\n" + std::string(246, 'x'), 1, "just inside the window"},
        {image + std::string(200, '\0') + debugRecord + "msi.tag \r\n", 1, "behind a debug record"},
        {image, 0, "no markers"},
        {"msi.tag \r\n", 1, "file shorter than the window"},
        {"", 0, "empty file"},
    };
    for (const Case& c : cases) EXPECT_EQ(markerIn(c.content), c.expected) << c.what;
}

TEST_F(TailMarkerFile, AMissingFileHoldsNoMarker) {
    copyText(programPath, (directory_ + "\\missing.exe").c_str());
    EXPECT_EQ(hasTailMarker("msi.tag"), 0);
}

}  // namespace
