#include "install/commands.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const temp = "C:\\TEMP\\";

struct WorkDirectoryCase {
    const char* dText;
    const char* temporaryPath;
    WorkDirectoryChoice choice;
    const char* workDirectory;
};

TEST(ChooseWorkDirectory, FollowsTheDText) {
    const std::string longText(256, 'k');
    const std::string longWork = "C:\\" + longText;
    const std::string tooLongText = longText + "x";
    const std::string longTemp = "C:\\" + std::string(248, 't') + "\\";
    const WorkDirectoryCase cases[] = {
        {"", temp, WorkDirectoryChoice::temporary, "C:\\TEMP\\KESTRUNE"},
        {"D:\\Keep", temp, WorkDirectoryChoice::named, "D:\\Keep"},
        {"Keep", temp, WorkDirectoryChoice::named, "C:\\Keep"},
        {"\\Keep", temp, WorkDirectoryChoice::named, "C:\\\\Keep"},
        {"Keep\\", temp, WorkDirectoryChoice::named, "C:\\Keep\\"},
        {"\"C:\\My Dir\"", temp, WorkDirectoryChoice::named, "C:\\My Dir"},
        {"\"My Dir\"", temp, WorkDirectoryChoice::named, "C:\\My Dir"},
        {"\"\"", temp, WorkDirectoryChoice::temporary, "C:\\TEMP\\KESTRUNE"},
        {"a:b", temp, WorkDirectoryChoice::named, "a:b"},
        {"", nullptr, WorkDirectoryChoice::noTemporaryPath, ""},
        {"", "", WorkDirectoryChoice::noTemporaryPath, ""},
        {"D:\\Keep", nullptr, WorkDirectoryChoice::named, "D:\\Keep"},
        {longText.c_str(), temp, WorkDirectoryChoice::named, longWork.c_str()},
        {tooLongText.c_str(), temp, WorkDirectoryChoice::tooLong, ""},
        {"", longTemp.c_str(), WorkDirectoryChoice::tooLong, ""},
    };
    for (const WorkDirectoryCase& c : cases) {
        char out[pathBufferSize] = "";
        EXPECT_EQ(chooseWorkDirectory(c.dText, c.temporaryPath, out, sizeof out), c.choice) << c.dText;
        EXPECT_STREQ(out, c.workDirectory) << c.dText;
    }
}

TEST(ComposeSiblingWorkDirectory, AddsAPointAndEightHexadecimalDigitsOrNothing) {
    const std::string fits(250, 'w');
    const std::string fitsSibling = fits + ".12345678";
    const std::string tooLong(251, 'w');
    const struct {
        const char* workDirectory;
        unsigned long random;
        bool composed;
        const char* sibling;
    } cases[] = {
        {"C:\\TEMP\\KESTRUNE", 0x0A1B2C3DUL, true, "C:\\TEMP\\KESTRUNE.0A1B2C3D"},
        {"C:\\TEMP\\KESTRUNE", 0, true, "C:\\TEMP\\KESTRUNE.00000000"},
        {"C:\\TEMP\\KESTRUNE", 0xFFFFFFFFUL, true, "C:\\TEMP\\KESTRUNE.FFFFFFFF"},
        {fits.c_str(), 0x12345678UL, true, fitsSibling.c_str()},
        {tooLong.c_str(), 0x12345678UL, false, "unchanged"},
    };
    for (const auto& c : cases) {
        char out[pathBufferSize] = "unchanged";
        EXPECT_EQ(composeSiblingWorkDirectory(c.workDirectory, c.random, out), c.composed) << c.workDirectory;
        EXPECT_STREQ(out, c.sibling) << c.workDirectory;
    }
}

TEST(ComposeExtractionCommand, QuotesEveryPathToken) {
    struct Case {
        const char* packageDirectory;
        const char* workDirectory;
        const char* command;
    } cases[] = {
        {"E:\\Media", "C:\\TEMP\\KESTRUNE",
         "\"E:\\Media\\unzip.exe\" -P pw \"E:\\Media\\package.zip\" -d \"C:\\TEMP\\KESTRUNE\""},
        {"D:\\", "C:\\Keep\\", "\"D:\\\\unzip.exe\" -P pw \"D:\\\\package.zip\" -d \"C:\\Keep\\\\\""},
        {"C:\\My Package", "C:\\My Dir",
         "\"C:\\My Package\\unzip.exe\" -P pw \"C:\\My Package\\package.zip\" -d \"C:\\My Dir\""},
    };
    for (const auto& c : cases) {
        char out[pathBufferSize] = "";
        EXPECT_TRUE(composeExtractionCommand(c.packageDirectory, "pw", c.workDirectory, out, sizeof out));
        EXPECT_STREQ(out, c.command);
    }
}

TEST(ComposeExtractionCommand, RefusesWhatDoesNotFit) {
    // The package directory stands twice in the command.
    const std::string packageDirectory = "C:\\" + std::string(100, 'p');
    char out[pathBufferSize] = "untouched";
    EXPECT_FALSE(composeExtractionCommand(packageDirectory.c_str(), "pw", "C:\\TEMP\\KESTRUNE", out, sizeof out));
    EXPECT_STREQ(out, "untouched");

    // Just at the limit: 259 characters fit, 260 do not.
    const std::string fixed = "\"C:\\p\\unzip.exe\" -P pw \"C:\\p\\package.zip\" -d \"\"";
    const std::string work(259 - fixed.size(), 'w');
    EXPECT_TRUE(composeExtractionCommand("C:\\p", "pw", work.c_str(), out, sizeof out));
    EXPECT_EQ(std::string(out).size(), 259u);
    EXPECT_FALSE(composeExtractionCommand("C:\\p", "pw", (work + "w").c_str(), out, sizeof out));
}

TEST(ComposeSetupCommand, GivesEachForm) {
    struct Case {
        int silent;
        int marker;
        SetupForm form;
        const char* command;
    } cases[] = {
        {0, 0, SetupForm::interactive, "\"C:\\TEMP\\KESTRUNE\\SETUP.EXE\""},
        {0, 1, SetupForm::interactive, "\"C:\\TEMP\\KESTRUNE\\SETUP.EXE\""},
        {1, 1, SetupForm::msiQuiet, "\"C:\\TEMP\\KESTRUNE\\SETUP.EXE\" /qn REBOOT=ReallySuppress"},
        {1, 0, SetupForm::silent, "\"C:\\TEMP\\KESTRUNE\\SETUP.EXE\" -s -SMS"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chooseSetupForm(c.silent, c.marker), c.form);
        char out[pathBufferSize] = "";
        EXPECT_TRUE(composeSetupCommand(c.form, "C:\\TEMP\\KESTRUNE", out, sizeof out));
        EXPECT_STREQ(out, c.command);
    }
    const std::string work = "C:\\" + std::string(240, 'w');
    char out[pathBufferSize] = "";
    EXPECT_TRUE(composeSetupCommand(SetupForm::interactive, work.c_str(), out, sizeof out));
    EXPECT_FALSE(composeSetupCommand(SetupForm::msiQuiet, work.c_str(), out, sizeof out));
}

TEST(ComposeScript, GivesThePathAndTheQuotedCommand) {
    char path[pathBufferSize] = "";
    char command[pathBufferSize] = "";
    EXPECT_TRUE(composeScriptPath("C:\\My Dir", path, sizeof path));
    EXPECT_STREQ(path, "C:\\My Dir\\PostProcess.cmd");
    EXPECT_TRUE(composeScriptCommand("C:\\My Dir", command, sizeof command));
    EXPECT_STREQ(command, "\"C:\\My Dir\\PostProcess.cmd\"");
}

TEST(JoinPath, JoinsWithOneBackslashAndRefusesOverflow) {
    char out[pathBufferSize] = "";
    EXPECT_TRUE(joinPath("C:\\w", "a", out));
    EXPECT_STREQ(out, "C:\\w\\a");
    EXPECT_TRUE(joinPath("D:\\", "a", out));
    EXPECT_STREQ(out, "D:\\\\a");
    const std::string directory(257, 'd');
    EXPECT_TRUE(joinPath(directory.c_str(), "a", out));
    EXPECT_FALSE(joinPath(directory.c_str(), "ab", out));
    EXPECT_STREQ(out, (directory + "\\a").c_str());
}

}  // namespace
