// Hostile -d values: quotes anywhere, trailing and doubled backslashes, dot
// segments, colons in odd places and texts too long for the drive root.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostile_support.h"

using namespace testing_support;
using namespace hostile;

namespace {

const std::string tooLongBox = "Varnel Kestrune|The work directory does not fit in 259 characters.";

TEST(WorkDirectoryText, ANamedDirectoryIsUsedAsWrittenWithoutItsQuotes) {
    Medium medium(testName());
    const std::string root = medium.root;
    const std::string bare = root.substr(3);  // without "C:\"
    struct Case {
        std::string dText;
        std::string composed;   // the work directory the launcher puts into its commands: its full path
        std::string directory;  // where the files really go
    } cases[] = {
        {bare + "\\plain", "C:\\" + bare + "\\plain", root + "\\plain"},
        {"\"" + root + "\\quoted\"", root + "\\quoted", root + "\\quoted"},
        {root + "\\in\"si\"de", root + "\\inside", root + "\\inside"},
        {root + "\\x\" \"y", root + "\\x y", root + "\\x y"},
        {"\"\"" + root + "\\lead", root + "\\lead", root + "\\lead"},
        // Trailing backslashes: the full path keeps one, the commands then
        // hold a doubled one and still work.
        {root + "\\keep\\", root + "\\keep\\", root + "\\keep"},
        {root + "\\keep2\\\\\\", root + "\\keep2\\", root + "\\keep2"},
        {"\"" + root + "\\keep3\\\"", root + "\\keep3\\", root + "\\keep3"},
        {"\\" + bare + "\\slash", root + "\\slash", root + "\\slash"},
        // Under C:\ the dot segments cannot climb above the drive root.
        {"..\\..\\" + bare + "\\up", root + "\\up", root + "\\up"},
    };
    size_t seen = 0;
    for (const Case& c : cases) {
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run("-d" + c.dText);
        EXPECT_EQ(run.exitCode, 1u) << c.dText;
        const auto runs = medium.childRuns();
        ASSERT_EQ(runs.size(), seen + 2) << c.dText;
        EXPECT_EQ(runs[seen].at("commandLine"), quoted(c.composed + "\\SETUP.EXE")) << c.dText;
        EXPECT_EQ(runs[seen].at("run"), c.directory + "\\SETUP.EXE") << c.dText;
        EXPECT_EQ(runs[seen + 1].at("run"), c.directory + "\\PostProcess.cmd") << c.dText;
        seen = runs.size();
        EXPECT_TRUE(pathExists(c.directory + "\\docs\\readme.txt")) << c.dText;
        EXPECT_EQ(watch.changes({c.directory}), std::vector<std::string>{}) << c.dText;
    }
}

TEST(WorkDirectoryText, QuotesAloneMeanTheTemporaryDirectory) {
    for (const std::string dText : {"\"\"", "\"", "\"\"\"\"\"\""}) {
        Medium medium(testName() + std::to_string(dText.size()));
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run("-d" + dText);
        EXPECT_EQ(run.exitCode, 1u) << dText;
        const auto runs = medium.childRuns();
        ASSERT_EQ(runs.size(), 2u) << dText;
        EXPECT_EQ(runs[0].at("currentDirectory"), medium.workDirectory()) << dText;
        EXPECT_FALSE(pathExists(medium.workDirectory())) << dText;
        EXPECT_EQ(watch.changes(), std::vector<std::string>{}) << dText;
    }
}

// Where the platform puts `text` when the current directory is `directory`
// (the launcher works from its package directory).
std::string resolvedFrom(const std::string& directory, const std::string& text) {
    const std::string start = currentDirectory();
    SetCurrentDirectoryA(directory.c_str());
    char full[MAX_PATH * 2] = "";
    GetFullPathNameA(text.c_str(), sizeof full, full, nullptr);
    SetCurrentDirectoryA(start.c_str());
    return full;
}

// The missing directory farthest up the way to `path` (`path` itself when
// its parent exists): a named work directory is made with every missing
// parent.
std::string farthestMissing(std::string path) {
    for (size_t cut = path.rfind('\\'); cut != std::string::npos && cut > 3 && !pathExists(path.substr(0, cut));
         cut = path.rfind('\\')) {
        path = path.substr(0, cut);
    }
    return path;
}

// With a colon the text is used unchanged, as the platform's full path of
// it, so whether the platform accepts the name decides whether anything is
// extracted; wherever that is, it is the one place the text names (with any
// of its parents that were missing), and anything that runs runs from there.
TEST(WorkDirectoryText, AColonInAnOddPlaceIsTakenUnchangedAndWritesNothingElsewhere) {
    Medium medium(testName());
    const std::string root = medium.root;
    const std::string packageDirectory = medium.directory;
    const std::string texts[] = {
        root + "\\odd:name", ":", "::\\x", "Q:\\no-such-drive", root + "\\a:\\b", "C:here",
    };
    size_t seen = 0;
    for (const std::string& text : texts) {
        const std::string place = resolvedFrom(packageDirectory, text);
        const std::string made = farthestMissing(place);
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run("-v -d" + text);
        EXPECT_EQ(run.exitCode, 1u) << text;
        const std::string command = quoted(packageDirectory + "\\unzip.exe") + " -P " + packagePassword() + " " +
                                    quoted(packageDirectory + "\\package.zip") + " -d " + quoted(place);
        // Either the platform makes the directory and the extraction is
        // tried there, or the run ends before anything is extracted.
        EXPECT_EQ(run.countWithText(command) + run.countWithText("The work directory could not be created."), 1)
            << text;
        const auto runs = medium.childRuns();
        for (size_t i = seen; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].at("run").rfind(place + "\\", 0), 0u) << text << ": " << runs[i].at("run");
        }
        seen = runs.size();
        EXPECT_EQ(watch.changes({made}), std::vector<std::string>{}) << text << " resolves to " << place;
    }
}

TEST(WorkDirectoryText, TooLongUnderTheDriveRootIsRefusedBeforeAnythingIsMade) {
    Medium medium(testName());
    struct Case {
        std::string dText;
    } cases[] = {
        // 257 characters (the most a 259-character tail holds) need 260
        // under C:\; the /v inside turns verbose on.
        {std::string(100, 'w') + "/v" + std::string(155, 'w')},
        {"w\\/v" + std::string(253, 'w')},
    };
    for (const Case& c : cases) {
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run("-d" + c.dText);
        EXPECT_EQ(run.exitCode, 1u);
        const auto boxes = run.answeredBoxes();
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back(), tooLongBox);
        EXPECT_TRUE(medium.childRuns().empty());
        EXPECT_EQ(run.countWithText(noticeBoxText), 0);
        EXPECT_EQ(watch.changes(), std::vector<std::string>{});
    }
}

TEST(WorkDirectoryText, AWorkDirectoryThatFitsWhileItsCommandsDoNotRunsNothing) {
    Medium medium(testName());
    // In quotes, 250 characters: C:\ and the text fit in 259, the extraction
    // command with the package directory twice does not.
    const std::string name = std::string(250, 'k');
    const std::string directory = "C:\\" + name;
    const OutsideWatch watch(medium);
    const RecordedRun run = medium.run("-v -d\"" + name + "\"");
    EXPECT_EQ(run.exitCode, 1u);
    const auto boxes = run.answeredBoxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), "Varnel Kestrune|The extraction command does not fit in 259 characters.");
    EXPECT_TRUE(medium.childRuns().empty());
    EXPECT_EQ(run.countWithText(noticeBoxText), 0);
    // At most the named directory itself is made, and it stays empty.
    const auto changes = watch.changes({directory});
    EXPECT_EQ(changes, std::vector<std::string>{});
    EXPECT_EQ(entriesBelow(directory), std::vector<std::string>{});
    RemoveDirectoryA(directory.c_str());
}

}  // namespace
