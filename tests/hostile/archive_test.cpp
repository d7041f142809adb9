// Crafted package archives: entry names that would leave the work directory
// (zip slip), archives cut short or empty, the wrong password, central
// directories that declare sizes the data does not have, names that clash or
// name devices on Windows, and entries that share one stream (a zip bomb).
// The extraction may fail, and then nothing is run, not even what it did
// write; the launcher still ends with 1, nothing is written outside the work
// directory and the work directory is removed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostile_support.h"

using namespace testing_support;
using namespace hostile;

namespace {

const std::vector<std::string> setupAndScript = {"SETUP.EXE", "PostProcess.cmd"};
const std::vector<std::string> nothing = {};

TEST(Archive, AHostileArchiveNeverWritesOutsideTheWorkDirectory) {
    struct Case {
        const char* archive;
        std::vector<std::string> expectedRuns;  // below the work directory, in order
    } cases[] = {
        // The crafting itself keeps a sound archive sound.
        {"rewritten.zip", setupAndScript},
        // ../evil.txt, a/../../evil.txt, /abs.txt, C:evil.txt, ..\evil.txt,
        // C:\evil.txt and sub\..\..\evil.txt beside a sound setup: the
        // refused entries make the extraction a failure.
        {"slip-beside-setup.zip", nothing},
        // SETUP.EXE and the script only under names that leave the directory.
        {"slip-setup.zip", nothing},
        {"empty.zip", nothing},
        {"cut-1.zip", nothing},
        {"cut-30.zip", nothing},
        {"cut-half.zip", nothing},
        {"cut-end-record.zip", nothing},
        {"wrong-password.zip", nothing},
        // Central directory sizes of about 4 GB, or far too small.
        {"huge-uncompressed.zip", nothing},
        {"huge-compressed.zip", nothing},
        // SETUP.EXE damaged, the sound script written but never run.
        {"huge-setup.zip", nothing},
        {"small-setup.zip", nothing},
        // SETUP.EXE, setup.exe and SETUP.EXE.: refused whole.
        {"clashing-setup.zip", nothing},
        // COM¹, LPT².txt and com³.log beside a sound setup: refused as
        // devices, so the extraction failed and nothing runs.
        {"superscript-devices.zip", nothing},
        // 40 more entries over SETUP.EXE's stream: refused whole.
        {"overlapping-setup.zip", nothing},
    };
    int index = 0;
    for (const Case& c : cases) {
        Medium medium = mediumWithArchive(testName() + std::to_string(index++), c.archive);
        const std::string work = medium.workDirectory();
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run("-s");
        EXPECT_EQ(run.exitCode, 1u) << c.archive;
        EXPECT_FALSE(run.timedOut) << c.archive;
        std::vector<std::string> ran;
        for (const auto& child : medium.childRuns()) {
            const std::string program = child.at("run");
            EXPECT_EQ(program.rfind(work + "\\", 0), 0u) << c.archive << ": " << program;
            ran.push_back(program.substr(work.size() + 1));
        }
        EXPECT_EQ(ran, c.expectedRuns) << c.archive;
        EXPECT_FALSE(pathExists(work)) << c.archive;
        // The medium, the temporary directory, C:\ and the scratch root: no
        // evil.txt, abs.txt, SETUP.EXE or part file anywhere.
        EXPECT_EQ(watch.changes(), std::vector<std::string>{}) << c.archive;
    }
}

}  // namespace
