// Runs a program and records every message box that it, or any process it
// starts, shows: caption and text, in the order they appear. Each box is
// answered with OK unless its text is one to leave standing (such as a
// progress notice that the program closes itself).
#pragma once

#include <string>
#include <vector>

// The id of the static control that holds a message box's text.
constexpr int messageBoxTextId = 0xFFFF;

struct RecordedBox {
    std::string caption;
    std::string text;
    bool answered = false;  // false: left standing for the program to close
    bool vanished = false;  // gone again before the run ended
};

struct RecordedRun {
    bool started = false;
    unsigned long startError = 0;  // the platform's error when it did not start
    bool timedOut = false;         // the run was ended by the recorder
    unsigned long exitCode = 0;
    std::vector<RecordedBox> boxes;

    // The boxes that were answered, as "caption|text" lines.
    std::vector<std::string> answeredBoxes() const;
    // How many boxes with this text appeared.
    int countWithText(const std::string& text) const;
};

struct RecordOptions {
    std::string currentDirectory;            // empty: the recorder's own
    std::vector<std::string> leaveStanding;  // box texts not to answer
    unsigned long timeoutMilliseconds = 120000;
    // When a box with `signalText` first appears, this file is created, so a
    // script outside can act while it stands (the demo's screenshot).
    std::string signalText;
    std::string signalFile;
};

RecordedRun recordRun(const std::string& commandLine, const RecordOptions& options = {});

// CreateProcessA of `commandLine` from `directory` (null: the caller's), with
// no handles inherited. Wine on a loaded machine now and then fails to start a
// program at all; the start is tried again then (a program that started is
// never started twice). The platform's error of the last try when it never
// started, else 0; `process` receives the started process.
unsigned long startProgram(const std::string& commandLine, const char* directory, void* process);

// Watches the boxes of the calling process from a thread of its own, for
// tests that call the launcher's functions directly.
class BoxWatcher {
public:
    explicit BoxWatcher(RecordOptions options = {});
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;
    // Stops watching and gives what was seen.
    RecordedRun stop();

private:
    struct State;
    State* state_;
};
