// The Windows side of bench/run.sh: times launcher runs against the same
// children started directly, interleaved, with QueryPerformanceCounter around
// CreateProcessA ... WaitForSingleObject.
//
//   bench-driver ROUNDS ROOT PASSWORD LARGE_TOTAL_BYTES LARGE_RANDOM_BYTES
//
// ROOT (short, so that every command line fits in 259 characters) holds two
// media, small\ and large\, each with setup.exe, unzip.exe and package.zip,
// a directory empty\ with only setup.exe and quick.exe,
// and temp\, the TEMP of every run (so W is ROOT\temp\KESTRUNE).
//
// Per round (the small runs three times, each pair in alternating order; the
// three large runs in rotating order):
//   small-launcher  "ROOT\small\setup.exe" -s
//   small-direct    what the launcher's silent run does, started from here:
//                   unzip.exe, then W\SETUP.EXE -s -SMS, then W\PostProcess.cmd
//                   when present (the benchmark's packages hold none), then W
//                   removed (all inside the timed span)
//   large-launcher  "ROOT\large\setup.exe" -s
//   large-extract   only the extraction, started as the launcher starts it;
//                   W is checked and removed after the timed span
//   large-direct    the small-direct sequence on the large medium
//   process-start   ROOT\empty\quick.exe (the packages' SETUP.EXE, a GUI
//                   program that does next to nothing) started as the
//                   launcher is: what any process costs to start and end
//   launcher-alone  "ROOT\empty\setup.exe" -s with nothing beside it: the
//                   launcher's own start and end (W made and removed, the
//                   children cannot start)
// Before each run the console hosts of earlier runs have ended (settle()).
// Round 0 warms up and is not reported. Every run is checked: SETUP.EXE ran
// once, after the large payload came out whole; a W left behind is reported
// and removed before the next run.
//
// After the timed rounds, untimed memory runs: the launcher on each medium and
// unzip.exe on the large one, their counters read every 5 ms while they run
// and once more after they ended. (Wine fills the counters from the Linux
// process's /proc status, which has no memory lines once the process is gone,
// so the reading after the end is often zero.)
//
// A GUI program, like the launcher: neither has a console, so a console
// child (unzip.exe, cmd.exe for a PostProcess.cmd) gets one of its own in
// both kinds of run, as when a medium is started from the desktop.
//
// Writes to ROOT\driver.txt one line per measurement:
//   run VARIANT ROUND MILLISECONDS
//   step VARIANT ROUND CHILD MILLISECONDS      (children of the direct runs)
//   left VARIANT ROUND ENTRIES                 (W still there right after the run)
//   mem VARIANT RUN WHEN PEAK_WORKING_SET PEAK_PAGEFILE_USAGE   (bytes;
//       WHEN is "running", the largest sampled, "ended", or "timed-ended":
//       read after the end of a timed run, outside its timed span)
// and "fail WHAT" (exit code 1) when a run did not do all it should.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The launcher's settings for its two kinds of children (process/child_runner.cpp).
constexpr DWORD extractorCreationFlags = CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS | CREATE_SEPARATE_WOW_VDM;
constexpr DWORD programCreationFlags = CREATE_DEFAULT_ERROR_MODE;
constexpr DWORD childWaitLimit = 360000;

double counterFrequency = 0;
FILE* out = nullptr;  // ROOT\driver.txt

double nowMs() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) * 1000.0 / counterFrequency;
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(out, "fail %s (error %lu)\n", what.c_str(), static_cast<unsigned long>(GetLastError()));
    std::fflush(out);
    std::exit(1);
}

struct MemoryPeaks {
    PROCESS_MEMORY_COUNTERS running{};  // largest values read while it ran
    PROCESS_MEMORY_COUNTERS ended{};    // read once after it ended
};

void keepLarger(PROCESS_MEMORY_COUNTERS& kept, const PROCESS_MEMORY_COUNTERS& read) {
    if (read.PeakWorkingSetSize > kept.PeakWorkingSetSize) kept.PeakWorkingSetSize = read.PeakWorkingSetSize;
    if (read.PeakPagefileUsage > kept.PeakPagefileUsage) kept.PeakPagefileUsage = read.PeakPagefileUsage;
}

// A reading that fails counts as zeros: after the end it may well do so.
PROCESS_MEMORY_COUNTERS readMemory(HANDLE process) {
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(process, &memory, sizeof memory)) {
        memory = PROCESS_MEMORY_COUNTERS{};
        memory.cb = sizeof memory;
    }
    return memory;
}

// Waits for the end of `process`; with `peaks`, reads its counters every 5 ms
// meanwhile and once after the end.
void waitForEnd(HANDLE process, DWORD limit, const std::string& what, MemoryPeaks* peaks) {
    if (peaks == nullptr) {
        if (WaitForSingleObject(process, limit) != WAIT_OBJECT_0) fail("no end of " + what);
        return;
    }
    const double deadline = nowMs() + limit;
    for (;;) {
        const DWORD result = WaitForSingleObject(process, 5);
        if (result == WAIT_OBJECT_0) break;
        if (result != WAIT_TIMEOUT || nowMs() > deadline) fail("no end of " + what);
        keepLarger(peaks->running, readMemory(process));
    }
    peaks->ended = readMemory(process);
}

struct ChildResult {
    DWORD exitCode = 0;
    double ms = 0;
};

// Starts and waits as the launcher's runners do: the current directory is set
// to the child's directory around the start and put back afterwards.
ChildResult runChild(bool extractor, const std::string& directory, const std::string& commandLine,
                     MemoryPeaks* peaks = nullptr) {
    const double start = nowMs();
    char savedDirectory[MAX_PATH];
    const DWORD savedLength = GetCurrentDirectoryA(MAX_PATH, savedDirectory);
    const bool saved = savedLength != 0 && savedLength < MAX_PATH;
    SetCurrentDirectoryA(directory.c_str());

    std::string command = commandLine;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.lpTitle = const_cast<char*>(extractor ? "Unzip Files" : "External Program");
    startup.dwFlags = extractor ? STARTF_USESHOWWINDOW : 0;
    startup.wShowWindow = extractor ? SW_MINIMIZE : SW_HIDE;
    SECURITY_ATTRIBUTES processSecurity = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    SECURITY_ATTRIBUTES threadSecurity = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(nullptr, &command[0], extractor ? nullptr : &processSecurity,
                        extractor ? nullptr : &threadSecurity, FALSE,
                        extractor ? extractorCreationFlags : programCreationFlags, nullptr,
                        directory.c_str(), &startup, &child)) {
        fail("cannot start " + commandLine);
    }
    waitForEnd(child.hProcess, childWaitLimit, commandLine, peaks);
    ChildResult result;
    GetExitCodeProcess(child.hProcess, &result.exitCode);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    if (saved) SetCurrentDirectoryA(savedDirectory);
    result.ms = nowMs() - start;
    return result;
}

// The launcher's removal (install/work_directory_removal.cpp): deepest first,
// links removed as links.
void removeTree(const std::string& path) {
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA((path + "\\*.*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            const bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (isDirectory && (name == "." || name == "..")) continue;
            const std::string entryPath = path + "\\" + name;
            if (!isDirectory) DeleteFileA(entryPath.c_str());
            else if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) RemoveDirectoryA(entryPath.c_str());
            else removeTree(entryPath);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

// Bytes of all files below `path`.
unsigned long long treeBytes(const std::string& path) {
    unsigned long long total = 0;
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA((path + "\\*.*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) total += treeBytes(path + "\\" + name);
        else total += (static_cast<unsigned long long>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return total;
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int entriesIn(const std::string& path) {
    int count = 0;
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA((path + "\\*.*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") ++count;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return count;
}

std::string readFile(const std::string& path) {
    std::string text;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
        std::fclose(file);
    }
    return text;
}

int countOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// Processes of the prefix named "conhost.exe": the console hosts of earlier
// runs' console children, which go on for a while after those ended.
int consoleHosts() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, "conhost.exe") == 0) ++count;
    CloseHandle(snapshot);
    return count;
}

// Before every timed run: the console hosts of the runs before it have gone
// (at most 5 s), so that no run pays for the end of the one before.
void settle() {
    for (int step = 0; step < 500 && consoleHosts() > 0; ++step) Sleep(10);
    Sleep(20);
}

struct Bench {
    std::string root, password, log;
    mutable PROCESS_MEMORY_COUNTERS lastEnded{};  // of the last timed launcher run, read after its end
    mutable int currentRound = 0;
    unsigned long long largeTotalBytes = 0, largeRandomBytes = 0;

    std::string workDirectory() const {
        char temporary[MAX_PATH];
        const DWORD length = GetTempPathA(MAX_PATH, temporary);
        if (length == 0 || length >= MAX_PATH) fail("no temporary path");
        return std::string(temporary) + "KESTRUNE";
    }

    void report(const char* variant, int round, double ms) const {
        if (round > 0) std::fprintf(out, "run %s %d %.1f\n", variant, round, ms);
        std::fflush(out);
    }
    void reportStep(const char* variant, int round, const char* child, double ms) const {
        if (round > 0) std::fprintf(out, "step %s %d %s %.1f\n", variant, round, child, ms);
    }
    static void reportMemory(const char* variant, int run, const MemoryPeaks& peaks) {
        const PROCESS_MEMORY_COUNTERS* readings[] = {&peaks.running, &peaks.ended};
        const char* names[] = {"running", "ended"};
        for (int i = 0; i < 2; ++i)
            std::fprintf(out, "mem %s %d %s %llu %llu\n", variant, run, names[i],
                        static_cast<unsigned long long>(readings[i]->PeakWorkingSetSize),
                        static_cast<unsigned long long>(readings[i]->PeakPagefileUsage));
        std::fflush(out);
    }

    // The reading after the end of a timed launcher run (taken outside its span).
    void reportEnded(const char* variant, int round) const {
        if (round > 0)
            std::fprintf(out, "mem %s %d timed-ended %llu %llu\n", variant, round,
                        static_cast<unsigned long long>(lastEnded.PeakWorkingSetSize),
                        static_cast<unsigned long long>(lastEnded.PeakPagefileUsage));
    }

    // Every run must have reached SETUP.EXE with the silent arguments, and
    // (large package) after the whole payload was extracted.
    void checkLog(const std::string& variant, bool large) const {
        const std::string text = readFile(log);
        if (countOf(text, "\\SETUP.EXE\" -s -SMS") != 1) fail(variant + ": SETUP.EXE not run once");
        if (large && text.find("payload " + std::to_string(largeRandomBytes)) == std::string::npos)
            fail(variant + ": payload not extracted whole");
        DeleteFileA(log.c_str());
    }

    // A W still there right after a run is counted ("left VARIANT ROUND
    // ENTRIES_IN_IT") and then removed outside the timed span. (Under Wine a
    // console child started with a console of its own, such as cmd.exe for
    // a PostProcess.cmd, keeps its current directory W locked for a moment
    // after it ended, so a removal right after it can fail.)
    void clearLeftWorkDirectory(const std::string& variant, int round) const {
        const std::string w = workDirectory();
        if (!exists(w)) return;
        if (round > 0) std::fprintf(out, "left %s %d %d\n", variant.c_str(), round, entriesIn(w));
        for (int step = 0; step < 1000 && exists(w); ++step) {
            Sleep(10);
            removeTree(w);
        }
        if (exists(w)) fail(variant + ": work directory cannot be removed");
    }

    void startClean() const {
        if (exists(workDirectory())) fail("work directory left from an earlier run");
        DeleteFileA(log.c_str());
        settle();
    }

    // A program started as the launcher is started, from ROOT; its time.
    double startRun(const std::string& commandLine) const {
        startClean();
        std::string command = commandLine;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        const double start = nowMs();
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, root.c_str(), &startup,
                            &process)) {
            fail("cannot start " + command);
        }
        waitForEnd(process.hProcess, childWaitLimit, command, nullptr);
        const double ms = nowMs() - start;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        DeleteFileA(log.c_str());
        if (exists(workDirectory())) fail(commandLine + ": work directory left");
        return ms;
    }

    // Returns the run's time; with `peaks`, its memory is read as it runs.
    double launcherRun(const std::string& medium, MemoryPeaks* peaks = nullptr) const {
        startClean();
        std::string command = "\"" + root + "\\" + medium + "\\setup.exe\" -s";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION launcher{};
        const double start = nowMs();
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, root.c_str(), &startup,
                            &launcher)) {
            fail("cannot start " + command);
        }
        waitForEnd(launcher.hProcess, 2 * childWaitLimit, command, peaks);
        const double ms = nowMs() - start;
        if (peaks == nullptr) lastEnded = readMemory(launcher.hProcess);
        CloseHandle(launcher.hThread);
        CloseHandle(launcher.hProcess);
        checkLog(medium + "-launcher", medium == "large");
        clearLeftWorkDirectory(medium + "-launcher", peaks == nullptr ? currentRound : 0);
        return ms;
    }

    std::string extractionCommand(const std::string& medium, const std::string& w) const {
        const std::string p = root + "\\" + medium;
        return "\"" + p + "\\unzip.exe\" -P " + password + " \"" + p + "\\package.zip\" -d \"" + w + "\"";
    }

    // What the launcher's silent run does, from here.
    void directRun(const std::string& medium, int round) const {
        startClean();
        const std::string variant = medium + "-direct";
        const std::string p = root + "\\" + medium;
        const double start = nowMs();
        const std::string w = workDirectory();
        CreateDirectoryA(w.c_str(), nullptr);
        const ChildResult extraction = runChild(true, p, extractionCommand(medium, w));
        const ChildResult setup = runChild(false, w, "\"" + w + "\\SETUP.EXE\" -s -SMS");
        ChildResult script;
        if (exists(w + "\\PostProcess.cmd")) script = runChild(false, w, "\"" + w + "\\PostProcess.cmd\"");
        const double removalStart = nowMs();
        removeTree(w);
        const double end = nowMs();
        if (extraction.exitCode != 0) fail(variant + ": unzip.exe exit code " + std::to_string(extraction.exitCode));
        checkLog(variant, medium == "large");
        clearLeftWorkDirectory(variant, round);
        report(variant.c_str(), round, end - start);
        reportStep(variant.c_str(), round, "unzip.exe", extraction.ms);
        reportStep(variant.c_str(), round, "SETUP.EXE", setup.ms);
        if (script.ms > 0) reportStep(variant.c_str(), round, "PostProcess.cmd", script.ms);
        reportStep(variant.c_str(), round, "removal", end - removalStart);
    }

    // The extraction alone; returns its time.
    double extractionRun(MemoryPeaks* peaks = nullptr) const {
        startClean();
        const std::string p = root + "\\large";
        const double start = nowMs();
        const std::string w = workDirectory();
        CreateDirectoryA(w.c_str(), nullptr);
        const ChildResult extraction = runChild(true, p, extractionCommand("large", w), peaks);
        const double ms = nowMs() - start;
        if (extraction.exitCode != 0) fail("large-extract: unzip.exe exit code " + std::to_string(extraction.exitCode));
        const unsigned long long bytes = treeBytes(w);
        if (bytes != largeTotalBytes)
            fail("large-extract: " + std::to_string(bytes) + " bytes extracted, not " + std::to_string(largeTotalBytes));
        removeTree(w);
        return ms;
    }

    // The small runs are short and so noisier: each round runs them
    // smallRepeats times, numbered on from round to round.
    static constexpr int smallRepeats = 3;

    void round(int number) const {
        currentRound = number;
        for (int repeat = 0; repeat < smallRepeats; ++repeat) {
            const int run = number == 0 ? 0 : (number - 1) * smallRepeats + repeat + 1;
            currentRound = run;
            // Alternating order, so that a drift of the machine favours neither.
            const bool launcherFirst = (number * smallRepeats + repeat) % 2 == 0;
            for (int i = 0; i < 2; ++i) {
                if ((i == 0) == launcherFirst) {
                    report("small-launcher", run, launcherRun("small"));
                    reportEnded("small-launcher", run);
                } else {
                    directRun("small", run);
                }
            }
            for (int i = 0; i < 2; ++i) {
                if ((i == 0) == launcherFirst)
                    report("launcher-alone", run, startRun("\"" + root + "\\empty\\setup.exe\" -s"));
                else
                    report("process-start", run, startRun("\"" + root + "\\empty\\quick.exe\""));
            }
        }
        currentRound = number;
        // The three large runs take every place in turn.
        for (int i = 0; i < 3; ++i) {
            const int which = (number + i) % 3;
            if (which == 0) {
                report("large-launcher", number, launcherRun("large"));
                reportEnded("large-launcher", number);
            } else if (which == 1) report("large-extract", number, extractionRun());
            else directRun("large", number);
        }
    }

    void memoryRuns(int runs) const {
        for (int run = 1; run <= runs; ++run) {
            MemoryPeaks small, large, extractor;
            launcherRun("small", &small);
            reportMemory("small-launcher", run, small);
            launcherRun("large", &large);
            reportMemory("large-launcher", run, large);
            extractionRun(&extractor);
            reportMemory("unzip-large", run, extractor);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fputs("usage: bench-driver ROUNDS ROOT PASSWORD LARGE_TOTAL_BYTES LARGE_RANDOM_BYTES\n", stderr);
        return 2;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    counterFrequency = static_cast<double>(frequency.QuadPart);

    const int rounds = std::atoi(argv[1]);
    Bench bench;
    bench.root = argv[2];
    bench.password = argv[3];
    bench.largeTotalBytes = std::strtoull(argv[4], nullptr, 10);
    bench.largeRandomBytes = std::strtoull(argv[5], nullptr, 10);
    bench.log = bench.root + "\\children.log";
    out = std::fopen((bench.root + "\\driver.txt").c_str(), "w");
    if (out == nullptr) return 3;
    const std::string temp = bench.root + "\\temp\\";
    CreateDirectoryA(temp.c_str(), nullptr);
    // The children inherit these from the launcher or from this driver alike.
    SetEnvironmentVariableA("TEMP", temp.c_str());
    SetEnvironmentVariableA("TMP", temp.c_str());
    SetEnvironmentVariableA("KESTRUNE_BENCH_LOG", bench.log.c_str());
    removeTree(bench.workDirectory());

    std::fprintf(out, "counter %.0f Hz\n", counterFrequency);
    for (int number = 0; number <= rounds; ++number) bench.round(number);
    bench.memoryRuns(3);
    return 0;
}
