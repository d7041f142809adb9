#include "process/child_runner.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "box_recorder.h"
#include "launcher/kestrune.h"
#include "windows_test_support.h"

using namespace testing_support;

namespace {

class ChildRunner : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = makeScratchDirectory(testName());
        runFrom_ = directory_ + "\\run from";
        makeDirectory(runFrom_);
        log_ = directory_ + "\\child.log";
        copyFile(testChildPath(), runFrom_ + "\\child.exe");
        startDirectory_ = currentDirectory();
    }
    void TearDown() override {
        verboseMode = 0;
        SetCurrentDirectoryA(startDirectory_.c_str());
    }
    std::string childCommand(const std::string& arguments = "") const {
        return "\"" + runFrom_ + "\\child.exe\" --log \"" + log_ + "\"" + arguments;
    }
    std::string directory_, runFrom_, log_, startDirectory_;
};

// The outcome as "state code", for readable comparisons.
std::string described(const ChildOutcome& outcome) {
    const char* states[] = {"ended", "stillRunning", "waitFailed", "notStarted"};
    return std::string(states[static_cast<int>(outcome.state)]) + " " + std::to_string(outcome.code);
}

TEST_F(ChildRunner, AChildEndingAtOnceGivesItsExitCodeAndRestoresTheDirectory) {
    struct Case {
        bool extractor;
        const char* arguments;
        const char* outcome;
    } cases[] = {
        {false, " --exit 3", "ended 3"},  {false, "", "ended 0"}, {true, " --exit 2", "ended 2"},
        {true, " --exit 50", "ended 50"}, {true, "", "ended 0"},
    };
    for (const Case& c : cases) {
        const std::string command = childCommand(c.arguments);
        const ChildOutcome outcome = c.extractor ? runExtractor("unzip.exe", runFrom_.c_str(), command.c_str())
                                                 : runProgram(runFrom_.c_str(), command.c_str());
        EXPECT_EQ(described(outcome), c.outcome) << command;
        EXPECT_EQ(currentDirectory(), startDirectory_) << command;
    }
    EXPECT_EQ(readChildLog(log_).size(), 5u);
}

TEST_F(ChildRunner, EachRunnerStartsItsChildAsPrescribed) {
    struct Case {
        bool extractor;
        const char* title;
        const char* flags;
        const char* show;
    } cases[] = {
        {true, "Unzip Files", "1", "6"},
        {false, "External Program", "0", "0"},
    };
    for (const Case& c : cases) {
        DeleteFileA(log_.c_str());
        const std::string command = childCommand(" extra argument");
        if (c.extractor) {
            runExtractor("ignored.exe", runFrom_.c_str(), command.c_str());
        } else {
            runProgram(runFrom_.c_str(), command.c_str());
        }
        const auto runs = readChildLog(log_);
        ASSERT_EQ(runs.size(), 1u) << c.title;
        const ChildRun& run = runs[0];
        EXPECT_EQ(run.at("commandLine"), command) << c.title;
        EXPECT_EQ(run.at("currentDirectory"), runFrom_) << c.title;
        EXPECT_EQ(run.at("startupTitle"), c.title);
        // This test program has a console that a program child shares; the
        // launcher has none, so its children's console titles are checked
        // in the launcher-level tests.
        if (c.extractor) {
            EXPECT_EQ(run.at("consoleTitle"), c.title);
        }
        EXPECT_EQ(run.at("startupFlags"), c.flags) << c.title;
        EXPECT_EQ(run.at("showWindow"), c.show) << c.title;
    }
}

// Every CreateProcessA call of the runners while it stands: the creation
// flags, whether handles are handed down, and the two security records.
using CreateProcessCall = BOOL(WINAPI*)(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                        LPVOID, LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION);
struct ProcessStart {
    DWORD flags;
    bool handlesInherited;
    std::string processRecord;
    std::string threadRecord;
};
std::vector<ProcessStart> processStarts;
CreateProcessCall realCreateProcess = nullptr;

std::string describedRecord(const SECURITY_ATTRIBUTES* record) {
    if (record == nullptr) return "none";
    return std::string(record->lpSecurityDescriptor != nullptr ? "descriptor, " : "no descriptor, ") +
           (record->bInheritHandle ? "inheritable" : "not inheritable");
}

BOOL WINAPI recordingCreateProcess(LPCSTR application, LPSTR command, LPSECURITY_ATTRIBUTES process,
                                   LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                                   LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION information) {
    processStarts.push_back({flags, inherit != FALSE, describedRecord(process), describedRecord(thread)});
    return realCreateProcess(application, command, process, thread, inherit, flags, environment, directory, startup,
                             information);
}

class ProcessStartRecorder : public ScopedImport<CreateProcessCall> {
public:
    ProcessStartRecorder() : ScopedImport("kernel32.dll", "CreateProcessA", &recordingCreateProcess) {
        processStarts.clear();
        realCreateProcess = original();
    }
};

// This process at idle priority, with error boxes off and a file handle that
// may be handed down: what a child would inherit where nothing says otherwise.
class InheritableSettings {
public:
    explicit InheritableSettings(const std::string& file) : priority_(GetPriorityClass(GetCurrentProcess())) {
        SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS);
        errorMode_ = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        handle_ = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ~InheritableSettings() {
        CloseHandle(handle_);
        SetErrorMode(errorMode_);
        SetPriorityClass(GetCurrentProcess(), priority_);
    }
    InheritableSettings(const InheritableSettings&) = delete;
    InheritableSettings& operator=(const InheritableSettings&) = delete;
    std::string handleValue() const { return std::to_string(reinterpret_cast<INT_PTR>(handle_)); }

private:
    DWORD priority_;
    UINT errorMode_;
    HANDLE handle_;
};

// The extractor runs at normal priority whatever the launcher's own; the
// installer starts with the default error mode, so that it shows its own
// error boxes; neither gets a handle of the launcher's. Wine hands down
// neither a low priority nor an error mode, so the flags and security records
// each runner asks for are checked as well.
TEST_F(ChildRunner, EachChildGetsItsPriorityOrErrorModeAndNoHandleOfTheLauncher) {
    struct Case {
        bool extractor;
        DWORD flags;
        const char* processRecord;
        const char* threadRecord;
    } cases[] = {
        {true, CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS | CREATE_SEPARATE_WOW_VDM, "none", "none"},
        {false, CREATE_DEFAULT_ERROR_MODE, "no descriptor, not inheritable", "no descriptor, inheritable"},
    };
    for (const Case& c : cases) {
        DeleteFileA(log_.c_str());
        const std::string file = directory_ + "\\handed-down.txt";
        {
            const InheritableSettings settings(file);
            const ProcessStartRecorder recorder;
            ASSERT_TRUE(recorder.active());
            const std::string command = childCommand(" --write-handle " + settings.handleValue());
            if (c.extractor) {
                runExtractor("unzip.exe", runFrom_.c_str(), command.c_str());
            } else {
                runProgram(runFrom_.c_str(), command.c_str());
            }
            ASSERT_EQ(processStarts.size(), 1u) << c.extractor;
            EXPECT_EQ(processStarts[0].flags, c.flags) << c.extractor;
            EXPECT_FALSE(processStarts[0].handlesInherited) << c.extractor;
            EXPECT_EQ(processStarts[0].processRecord, c.processRecord) << c.extractor;
            EXPECT_EQ(processStarts[0].threadRecord, c.threadRecord) << c.extractor;
        }
        const auto runs = readChildLog(log_);
        ASSERT_EQ(runs.size(), 1u) << c.extractor;
        if (c.extractor) {
            EXPECT_EQ(runs[0].at("priorityClass"), std::to_string(NORMAL_PRIORITY_CLASS));
        } else {
            EXPECT_EQ(runs[0].at("errorMode"), "0");
        }
        EXPECT_EQ(runs[0].at("handleWritten"), "0") << c.extractor;
        EXPECT_EQ(readFile(file), "") << c.extractor << ": the child wrote through the launcher's handle";
    }
}

TEST_F(ChildRunner, TheProgramIsFoundInTheDirectoryToRunFrom) {
    // No path: the platform's search includes the directory made current.
    EXPECT_EQ(described(runProgram(runFrom_.c_str(), ("child.exe --log \"" + log_ + "\"").c_str())), "ended 0");
    ASSERT_EQ(readChildLog(log_).size(), 1u);
}

TEST_F(ChildRunner, MissingProgramGivesTheErrorCode) {
    const std::string missing = "\"" + runFrom_ + "\\missing.exe\"";
    EXPECT_EQ(described(runProgram(runFrom_.c_str(), missing.c_str())), "notStarted 2");
    EXPECT_EQ(currentDirectory(), startDirectory_);
    EXPECT_EQ(described(runExtractor("unzip.exe", runFrom_.c_str(), missing.c_str())), "notStarted 2");
    EXPECT_EQ(currentDirectory(), startDirectory_);
}

TEST_F(ChildRunner, VerboseModeShowsTheStepsAndOneFailureBox) {
    verboseMode = 1;
    const std::string missing = "\"" + runFrom_ + "\\missing.exe\"";
    BoxWatcher programBoxes;
    runProgram(runFrom_.c_str(), missing.c_str());
    const auto program = programBoxes.stop().answeredBoxes();
    const std::vector<std::string> expectedProgram = {
        "Directory into Run|" + startDirectory_,
        "Directory to Run From|" + runFrom_,
        "Running app|" + missing,
        "Varnel Kestrune|Program Exec failed with rc = 2.",
    };
    EXPECT_EQ(program, expectedProgram);

    BoxWatcher extractorBoxes;
    runExtractor("unzip.exe", runFrom_.c_str(), missing.c_str());
    const auto extractor = extractorBoxes.stop().answeredBoxes();
    const std::vector<std::string> expectedExtractor = {
        "Varnel Kestrune: Directory into Run|" + startDirectory_,
        "Varnel Kestrune: Directory to Run From|" + runFrom_,
        "Varnel Kestrune|Program Exec Failed.",
    };
    EXPECT_EQ(extractor, expectedExtractor);

    BoxWatcher successBoxes;
    runProgram(runFrom_.c_str(), childCommand().c_str());
    EXPECT_EQ(successBoxes.stop().boxes.size(), 3u) << "no failure box when the child starts";
}

TEST_F(ChildRunner, QuietModeShowsNoBoxEvenOnFailure) {
    BoxWatcher boxes;
    runProgram(runFrom_.c_str(), "\"C:\\missing\\missing.exe\"");
    runExtractor("unzip.exe", runFrom_.c_str(), "\"C:\\missing\\missing.exe\"");
    runProgram(runFrom_.c_str(), childCommand().c_str());
    EXPECT_TRUE(boxes.stop().boxes.empty());
}

TEST_F(ChildRunner, AChildPastTheWaitLimitIsLeftRunning) {
    EXPECT_EQ(described(runProgram(runFrom_.c_str(), childCommand(" --sleep 3000").c_str(), 300)), "stillRunning 0");
    EXPECT_EQ(currentDirectory(), startDirectory_);
    // The runner may come back before the child got as far as its log.
    for (int i = 0; i < 100 && readChildLog(log_).empty(); ++i) Sleep(20);
    auto runs = readChildLog(log_);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].count("finished"), 0u) << "the runner came back before the child ended";
    for (int i = 0; i < 100 && readChildLog(log_)[0].count("finished") == 0; ++i) Sleep(100);
    EXPECT_EQ(readChildLog(log_)[0].count("finished"), 1u) << "the child ran on by itself";
}

TEST_F(ChildRunner, AMissingDirectoryToRunFromStartsNothing) {
    const std::string missingDirectory = directory_ + "\\missing";
    EXPECT_EQ(runProgram(missingDirectory.c_str(), childCommand().c_str()).state, ChildState::notStarted);
    EXPECT_EQ(currentDirectory(), startDirectory_);
    EXPECT_FALSE(pathExists(log_));
}

TEST_F(ChildRunner, ALongCurrentDirectoryIsRestoredWhole) {
    // Longer than 254 characters, so it does not fit a 255-character capacity.
    std::string longDirectory = directory_;
    while (longDirectory.size() < 240) longDirectory += "\\" + std::string(20, 'd');
    longDirectory += "\\" + std::string(257 - longDirectory.size() - 1, 'e');
    ASSERT_EQ(longDirectory.size(), 257u);
    makeDirectory(longDirectory);
    ASSERT_TRUE(SetCurrentDirectoryA(longDirectory.c_str()));
    EXPECT_EQ(described(runProgram(runFrom_.c_str(), childCommand().c_str())), "ended 0");
    EXPECT_EQ(currentDirectory(), longDirectory);
}

TEST_F(ChildRunner, AnOverlongCommandLineIsRefusedNotCut) {
    const std::string command = childCommand(" " + std::string(300, 'x'));
    EXPECT_EQ(described(runProgram(runFrom_.c_str(), command.c_str())),
              "notStarted " + std::to_string(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(pathExists(log_));
}

}  // namespace
