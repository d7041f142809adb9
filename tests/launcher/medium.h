// A distribution medium laid out for one launcher-level test: the real
// setup.exe, the stand-in unzip.exe and a package archive in a scratch
// directory, plus a private temporary directory and a log that every child
// of the run writes into.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "box_recorder.h"
#include "windows_test_support.h"

extern const char* const noticeBoxText;

struct MediumLayout {
    std::string package = "package.zip";  // fixture archive copied as package.zip; empty: none
    bool withExtractor = true;
    std::string tail;       // bytes appended to setup.exe (marker lines)
    std::string directory;  // where the medium goes; empty: <root>\medium
    // unzip.exe starts the real tool only once the progress notice stands, so
    // that a test can count on seeing the notice however busy the machine.
    bool extractorWaitsForNotice = false;
};

// The default medium, its unzip.exe waiting for the notice: for tests that
// count the notice, which a small package may otherwise outrun on a busy
// machine.
MediumLayout waitingForTheNotice();

class Medium {
public:
    Medium(const std::string& name, const MediumLayout& layout = {});

    // Runs "<medium>\setup.exe" ARGUMENTS from `startDirectory` (default: the
    // test's root), answering every box but the progress notice.
    RecordedRun run(const std::string& arguments, const std::string& startDirectory = "") const;
    // Starts "<medium>\setup.exe" ARGUMENTS without waiting or answering
    // boxes (for silent runs).
    std::unique_ptr<testing_support::StartedProcess> start(const std::string& arguments) const;
    std::vector<testing_support::ChildRun> childRuns() const;

    std::string root;       // C:\kestrune-tests\<name>
    std::string directory;  // the medium
    std::string temp;       // the launcher's temporary directory, with its backslash
    std::string log;
    std::string workDirectory() const { return temp + "KESTRUNE"; }
    // Gives this process the launcher's environment (its temporary directory
    // and the children's log), which every run and child inherits.
    void useEnvironment() const;

private:
    std::string commandLine(const std::string& arguments) const;
};
