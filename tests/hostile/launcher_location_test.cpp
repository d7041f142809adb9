// A launcher deep in the directory tree: its own path near the 259-character
// limit is shown whole, and the commands that hold its directory twice do
// not fit, so nothing runs and no temporary directory is left.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostile_support.h"

using namespace testing_support;
using namespace hostile;

namespace {

// A directory below `root` whose "\setup.exe" path is `length` characters.
std::string nestedDirectory(const std::string& root, size_t length) {
    const size_t directoryLength = length - std::string("\\setup.exe").size();
    std::string directory = root;
    for (char letter = 'a'; directory.size() < directoryLength; ++letter) {
        const size_t room = directoryLength - directory.size() - 1;
        directory += "\\" + std::string(room < 60 ? room : 60, letter);
    }
    return directory;
}

TEST(LauncherLocation, APathNearTheLimitIsShownWholeAndNothingRuns) {
    for (const size_t length : {255u, 259u}) {
        for (const bool verbose : {true, false}) {
            const std::string what = std::to_string(length) + (verbose ? " verbose" : "");
            const std::string name = testName() + what;
            // A medium's scratch root is known once one is laid out; the deep
            // one below replaces it under the same name.
            const std::string directory = nestedDirectory(Medium(name).root, length);
            Medium medium(name, MediumLayout{"package.zip", true, "", directory});
            const std::string launcher = directory + "\\setup.exe";
            ASSERT_EQ(launcher.size(), length);
            ASSERT_TRUE(pathExists(launcher)) << what;

            const OutsideWatch watch(medium);
            const RecordedRun run = medium.run(verbose ? "-v" : "");
            ASSERT_TRUE(run.started) << what;
            EXPECT_EQ(run.exitCode, 1u) << what;
            const std::vector<std::string> expected = {
                "Varnel Kestrune|ProgramPointer: " + launcher + "\n",
                "Varnel Kestrune|Current: " + medium.root + "\nRun: " + directory + "\\",
                "Varnel Kestrune|The extraction command does not fit in 259 characters.",
            };
            EXPECT_EQ(run.answeredBoxes(), verbose ? expected : std::vector<std::string>{}) << what;
            EXPECT_EQ(run.countWithText(noticeBoxText), 0) << what;
            EXPECT_TRUE(medium.childRuns().empty()) << what;
            EXPECT_FALSE(pathExists(medium.workDirectory())) << what;
            EXPECT_EQ(watch.changes(), std::vector<std::string>{}) << what;
        }
    }
}

}  // namespace
