#include "medium.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

using namespace testing_support;

const char* const noticeBoxText = "Copying Files. Please wait.";

namespace {
// Media live in short directories: the launcher's command lines hold the
// package directory twice and must fit in 259 characters.
std::string shortNameOf(const std::string& name) {
    unsigned long hash = 2166136261UL;
    for (unsigned char c : name) hash = ((hash ^ c) * 16777619UL) & 0xFFFFFFFFUL;
    char text[16];
    std::snprintf(text, sizeof text, "m%08lx", hash);
    return text;
}
}  // namespace

Medium::Medium(const std::string& name, const MediumLayout& layout) {
    root = makeScratchDirectory(shortNameOf(name));
    directory = layout.directory.empty() ? root + "\\medium" : layout.directory;
    temp = root + "\\temp\\";
    log = root + "\\children.log";
    makeDirectory(directory);
    makeDirectory(temp);

    const std::string launcher = directory + (directory.back() == '\\' ? "" : "\\") + "setup.exe";
    copyFile(launcherPath(), launcher);
    if (!layout.tail.empty()) writeFile(launcher, readFile(launcher) + layout.tail);
    const std::string base = directory + (directory.back() == '\\' ? "" : "\\");
    if (layout.withExtractor && layout.extractorWaitsForNotice) {
        copyFile(noticeFirstExtractorPath(), base + "unzip.exe");
        copyFile(extractorPath(), base + "unzip-real.exe");
    } else if (layout.withExtractor) {
        copyFile(extractorPath(), base + "unzip.exe");
    }
    if (!layout.package.empty()) copyFile(fixturePath(layout.package), base + "package.zip");
}

MediumLayout waitingForTheNotice() {
    MediumLayout layout;
    layout.extractorWaitsForNotice = true;
    return layout;
}

void Medium::useEnvironment() const {
    // Children inherit the launcher's environment, so this reaches them all.
    SetEnvironmentVariableA("TMP", temp.c_str());
    SetEnvironmentVariableA("TEMP", temp.c_str());
    SetEnvironmentVariableA("KESTRUNE_CHILD_LOG", log.c_str());
}

std::string Medium::commandLine(const std::string& arguments) const {
    const std::string base = directory + (directory.back() == '\\' ? "" : "\\");
    return "\"" + base + "setup.exe\"" + (arguments.empty() ? "" : " " + arguments);
}

RecordedRun Medium::run(const std::string& arguments, const std::string& startDirectory) const {
    useEnvironment();
    RecordOptions options;
    options.currentDirectory = startDirectory.empty() ? root : startDirectory;
    options.leaveStanding = {noticeBoxText};
    RecordedRun run = recordRun(commandLine(arguments), options);
    EXPECT_TRUE(run.started) << "the launcher did not start: error " << run.startError;
    return run;
}

std::unique_ptr<StartedProcess> Medium::start(const std::string& arguments) const {
    useEnvironment();
    return std::make_unique<StartedProcess>(commandLine(arguments), root);
}

std::vector<ChildRun> Medium::childRuns() const { return readChildLog(log); }
