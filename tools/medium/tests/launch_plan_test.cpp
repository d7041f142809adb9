// The paths and command lines the launcher would compose, and their limits.
#include <gtest/gtest.h>

#include "install/commands.h"
#include "launch_plan.h"
#include "medium_names.h"
#include "package_password.h"

namespace {

const LaunchStep* stepNamed(const LaunchPlan& plan, const std::string& what) {
    for (const LaunchStep& step : plan.steps) {
        if (step.what == what) return &step;
    }
    return nullptr;
}

bool anyProblemWith(const LaunchPlan& plan, const std::string& text) {
    for (const std::string& problem : plan.problems) {
        if (problem.find(text) != std::string::npos) return true;
    }
    return false;
}

// "C:\T\xxx...\" of exactly `length` characters.
std::string temporaryPathOfLength(size_t length) {
    std::string path = "C:\\T\\";
    path += std::string(length - path.size() - 1, 'x');
    return path + "\\";
}

}  // namespace

TEST(LaunchPlan, PathsTakeTheFormsTheWindowsCallsGive) {
    const std::pair<const char*, const char*> givenAndPackageDirectory[] = {
        {"D:\\", "D:\\"},
        {"E:\\dist\\", "E:\\dist"},
        {"E:\\dist\\\\", "E:\\dist"},
        {"E:\\dist", "E:\\dist"},
        {"\\\\server\\share\\", "\\\\server\\share\\"},
        {"\\\\server\\share\\sub\\", "\\\\server\\share\\sub"},
    };
    for (const auto& [given, packageDirectory] : givenAndPackageDirectory) {
        EXPECT_EQ(launcherPackageDirectory(given), packageDirectory) << given;
    }
    EXPECT_EQ(launcherTemporaryPath("C:\\Temp"), "C:\\Temp\\");
    EXPECT_EQ(launcherTemporaryPath("C:\\Temp\\"), "C:\\Temp\\");
}

TEST(LaunchPlan, OnlyAbsoluteWindowsPathsAreAccepted) {
    for (const char* path : {"D:\\", "c:\\x", "\\\\server\\share"}) EXPECT_EQ(windowsPathProblem(path), "") << path;
    for (const char* path : {"", "D:", "relative\\dir", "/media/usb", "D:/x", "D:\\\"x"}) {
        EXPECT_NE(windowsPathProblem(path), "") << path;
    }
}

TEST(LaunchPlan, TheWorkDirectoryMustBeComposedAndCreated) {
    const size_t suffix = std::string("KESTRUNE").size();
    struct Case {
        size_t workLength;
        bool composed;   // the launcher's 259 characters
        bool creatable;  // CreateDirectoryA's 247
    } cases[] = {{100, true, true}, {247, true, true}, {248, true, false}, {259, true, false}, {260, false, false}};
    for (const Case& c : cases) {
        const LaunchPlan plan =
            planLaunch("D:\\", temporaryPathOfLength(c.workLength - suffix), false, packagePassword, {});
        const LaunchStep* work = stepNamed(plan, "work directory");
        EXPECT_EQ(work != nullptr, c.composed) << c.workLength;
        if (work != nullptr) {
            EXPECT_EQ(work->text.size(), c.workLength);
        }
        EXPECT_EQ(anyProblemWith(plan, "the work directory (the temporary path"), !c.composed) << c.workLength;
        EXPECT_EQ(anyProblemWith(plan, "CreateDirectoryA creates folders of at most 247"), c.composed && !c.creatable)
            << c.workLength;
    }
}

TEST(LaunchPlan, EachCommandThatDoesNotFitIsAProblemOfItsOwn) {
    // The extraction command holds the package directory twice: a long one
    // breaks it while the setup commands, made from the work directory, fit.
    const std::string longDirectory = "E:\\" + std::string(120, 'p');
    const LaunchPlan plan = planLaunch(longDirectory, "C:\\Temp\\", true, packagePassword, {});
    EXPECT_TRUE(anyProblemWith(plan, "extraction command"));
    EXPECT_FALSE(anyProblemWith(plan, "setup command"));
    EXPECT_EQ(plan.silentForm, SetupForm::msiQuiet);
    const LaunchStep* silent = stepNamed(plan, "silent setup command (-s)");
    ASSERT_NE(silent, nullptr);
    EXPECT_NE(silent->text.find("/qn REBOOT=ReallySuppress"), std::string::npos);

    // A work directory that leaves no room for "\SETUP.EXE" and quotes.
    const LaunchPlan tight = planLaunch("D:\\", temporaryPathOfLength(259 - 8), false, packagePassword, {});
    EXPECT_TRUE(anyProblemWith(tight, "interactive setup command"));
    EXPECT_TRUE(anyProblemWith(tight, "post-processing command"));
    EXPECT_EQ(tight.silentForm, SetupForm::silent);
}

// Every extracted path must fit in what the ANSI calls open, counted in
// UTF-16 units as Windows counts them: a character beyond the Basic
// Multilingual Plane takes two, "é" one (two bytes in UTF-8).
TEST(LaunchPlan, ExtractedPathsMustFitInWhatTheAnsiCallsOpen) {
    const std::string temporary = "C:\\Temp\\";
    const std::string work = temporary + "KESTRUNE\\";
    struct Case {
        size_t pathLength;  // in UTF-16 units
        bool directory;
        const char* character;  // what the name is made of
        size_t units;           // of one character
        bool fits;
    } cases[] = {
        {longestPath, false, "n", 1, true},
        {longestPath + 1, false, "n", 1, false},
        {longestPath, true, "n", 1, true},
        {longestPath + 1, true, "n", 1, false},
        {longestPath - 1, false, "\u00e9", 1, true},
        {longestPath + 1, false, "\U0001F600", 2, false},
        {longestPath - 1, false, "\U0001F600", 2, true},
    };
    for (const Case& c : cases) {
        ArchiveEntryInfo entry;
        entry.directory = c.directory;
        const size_t nameUnits = c.pathLength - work.size();
        for (size_t i = 0; i + c.units <= nameUnits; i += c.units) entry.name += c.character;
        entry.name += std::string(nameUnits % c.units, 'n') + (c.directory ? "/" : "");
        const LaunchPlan plan = planLaunch("D:\\", temporary, false, packagePassword, {entry});
        EXPECT_EQ(anyProblemWith(plan, "extracted"), !c.fits)
            << c.pathLength << (c.directory ? " folder of " : " file of ") << c.character;
    }
}
