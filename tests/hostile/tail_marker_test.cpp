// Hostile ends of the launcher's own file: a marker split by the edge of the
// 256-byte window, a tail of zeros, a marker behind zero-filled data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostile_support.h"

using namespace testing_support;
using namespace hostile;

namespace {

const std::string msiArguments = " /qn REBOOT=ReallySuppress";
const std::string silentArguments = " -s -SMS";
constexpr size_t window = 256;
const std::string tag = "msi.tag";

std::string bytes(size_t count, char value) { return std::string(count, value); }
// Zeros are bridged only between texts, never inside the tag itself.
const std::string tagWithZeroInside("msi\0.tag", 8);

TEST(TailMarker, OnlyAWholeTagInTheLast256BytesChoosesTheMsiForm) {
    struct Case {
        const char* what;
        std::string tail;
        std::string arguments;
    } cases[] = {
        {"tag is the file's last bytes", tag, msiArguments},
        {"tag starts at the window's first byte", tag + bytes(window - tag.size(), 'x'), msiArguments},
        {"tag's first byte just outside", tag + bytes(window - tag.size() + 1, 'x'), silentArguments},
        {"only the tag's last byte inside", tag + bytes(window - 1, 'x'), silentArguments},
        {"tag wholly before the window", tag + bytes(window, 'x'), silentArguments},
        {"a tail of 256 zeros", bytes(window, '\0'), silentArguments},
        {"a tail of 64 KiB zeros", bytes(65536, '\0'), silentArguments},
        {"tag behind zero-filled data", bytes(4096, '\0') + tag, msiArguments},
        {"tag between zeros", bytes(100, '\0') + tag + bytes(100, '\0'), msiArguments},
        {"tag with zeros behind it, at the edge", tag + bytes(window - tag.size(), '\0'), msiArguments},
        {"tag with zeros behind it, split", tag + bytes(window - tag.size() + 1, '\0'), silentArguments},
        {"a zero inside the tag", tagWithZeroInside + bytes(10, '\0'), silentArguments},
    };
    int index = 0;
    for (const Case& c : cases) {
        Medium medium(testName() + std::to_string(index++), MediumLayout{"package.zip", true, c.tail, ""});
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run("-s");
        EXPECT_EQ(run.exitCode, 1u) << c.what;
        EXPECT_FALSE(run.timedOut) << c.what;
        const auto runs = medium.childRuns();
        ASSERT_EQ(runs.size(), 2u) << c.what << "\nthe children's log:\n" << readFile(medium.log);
        EXPECT_EQ(runs[0].at("commandLine"), quoted(medium.workDirectory() + "\\SETUP.EXE") + c.arguments) << c.what;
        EXPECT_FALSE(pathExists(medium.workDirectory())) << c.what;
        EXPECT_EQ(watch.changes(), std::vector<std::string>{}) << c.what;
    }
}

}  // namespace
