#include "box_recorder.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

namespace {

constexpr unsigned long pollMilliseconds = 10;
// A process snapshot is slow under Wine; boxes are looked for more often.
constexpr int pollsPerProcessScan = 10;

struct WatchedBox {
    HWND window;
    size_t index;  // into RecordedRun::boxes
};

struct Watch {
    std::set<DWORD> processes;  // the program and its descendants
    RecordedRun* run;
    const RecordOptions* options;
    std::vector<WatchedBox> standing;
};

void addDescendants(std::set<DWORD>& processes) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (processes.count(entry.th32ParentProcessID) != 0) processes.insert(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
}

std::string windowText(HWND window) {
    char text[4096] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

bool isKnown(const Watch& watch, HWND window) {
    return std::any_of(watch.standing.begin(), watch.standing.end(),
                       [window](const WatchedBox& box) { return box.window == window; });
}

BOOL CALLBACK noteBox(HWND window, LPARAM parameter) {
    Watch& watch = *reinterpret_cast<Watch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (watch.processes.count(process) == 0 || !IsWindowVisible(window) || isKnown(watch, window)) return TRUE;
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) != "#32770") return TRUE;

    // A box is read whole or not at one look: while it is being closed its
    // text control goes before it does, and read then it would be an empty
    // box that the program never showed. Skipped, it is read whole at the
    // next look if it still stands.
    HWND textControl = GetDlgItem(window, messageBoxTextId);
    if (textControl == nullptr) return TRUE;
    RecordedBox box;
    box.caption = windowText(window);
    box.text = windowText(textControl);
    if (!IsWindow(textControl) || !IsWindowVisible(window)) return TRUE;
    const auto& leave = watch.options->leaveStanding;
    box.answered = std::find(leave.begin(), leave.end(), box.text) == leave.end();
    watch.standing.push_back({window, watch.run->boxes.size()});
    watch.run->boxes.push_back(box);
    if (!watch.options->signalFile.empty() && box.text == watch.options->signalText) {
        HANDLE signal = CreateFileA(watch.options->signalFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (signal != INVALID_HANDLE_VALUE) CloseHandle(signal);
    }
    if (box.answered) PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void forgetVanished(Watch& watch) {
    auto gone = [&watch](const WatchedBox& box) {
        if (IsWindow(box.window)) return false;
        watch.run->boxes[box.index].vanished = true;
        return true;
    };
    watch.standing.erase(std::remove_if(watch.standing.begin(), watch.standing.end(), gone), watch.standing.end());
}

}  // namespace

std::vector<std::string> RecordedRun::answeredBoxes() const {
    std::vector<std::string> lines;
    for (const RecordedBox& box : boxes) {
        if (box.answered) lines.push_back(box.caption + "|" + box.text);
    }
    return lines;
}

int RecordedRun::countWithText(const std::string& text) const {
    return static_cast<int>(
        std::count_if(boxes.begin(), boxes.end(), [&text](const RecordedBox& box) { return box.text == text; }));
}

unsigned long startProgram(const std::string& commandLine, const char* directory, void* process) {
    constexpr int attempts = 3;
    DWORD error = 0;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0) Sleep(1000);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::string command = commandLine;
        if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, directory, &startup,
                           static_cast<PROCESS_INFORMATION*>(process))) {
            return 0;
        }
        error = GetLastError();
        // A program that is not there or not a program will not start later.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_BAD_EXE_FORMAT) break;
    }
    return error;
}

RecordedRun recordRun(const std::string& commandLine, const RecordOptions& options) {
    RecordedRun run;
    PROCESS_INFORMATION program = {};
    const char* directory = options.currentDirectory.empty() ? nullptr : options.currentDirectory.c_str();
    run.startError = startProgram(commandLine, directory, &program);
    if (run.startError != 0) return run;
    run.started = true;

    Watch watch{{program.dwProcessId}, &run, &options, {}};
    const DWORD startTick = GetTickCount();
    for (int poll = 0;; ++poll) {
        const bool ended = WaitForSingleObject(program.hProcess, pollMilliseconds) == WAIT_OBJECT_0;
        // Boxes still up when the program ends go with it, not closed by it.
        if (ended) break;
        if (poll % pollsPerProcessScan == 0) addDescendants(watch.processes);
        forgetVanished(watch);
        EnumWindows(noteBox, reinterpret_cast<LPARAM>(&watch));
        if (GetTickCount() - startTick > options.timeoutMilliseconds) {
            TerminateProcess(program.hProcess, 99);
            WaitForSingleObject(program.hProcess, 5000);
            run.timedOut = true;
            break;
        }
    }
    GetExitCodeProcess(program.hProcess, &run.exitCode);
    CloseHandle(program.hThread);
    CloseHandle(program.hProcess);
    return run;
}

struct BoxWatcher::State {
    RecordOptions options;
    RecordedRun run;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

BoxWatcher::BoxWatcher(RecordOptions options) : state_(new State) {
    state_->options = std::move(options);
    state_->run.started = true;
    State* state = state_;
    state_->thread = std::thread([state] {
        Watch watch{{GetCurrentProcessId()}, &state->run, &state->options, {}};
        while (!state->stopping) {
            forgetVanished(watch);
            EnumWindows(noteBox, reinterpret_cast<LPARAM>(&watch));
            Sleep(pollMilliseconds);
        }
        forgetVanished(watch);
    });
}

BoxWatcher::~BoxWatcher() {
    stop();
    delete state_;
}

RecordedRun BoxWatcher::stop() {
    state_->stopping = true;
    if (state_->thread.joinable()) state_->thread.join();
    return state_->run;
}
