// The Windows side of bench/run.sh: times launcher runs against the same
// children started directly and against the NSIS bootstrapper made from the
// same payload, interleaved, with QueryPerformanceCounter around
// CreateProcessA ... WaitForSingleObject.
//
//   bench-driver ROUNDS ROOT PASSWORD LARGE_TOTAL_BYTES LARGE_RANDOM_BYTES MANY_TOTAL_BYTES
//
// ROOT (short, so that every command line fits in 259 characters) holds three
// media, small\, large\ and many\ (thousands of small files), each with
// setup.exe, unzip.exe and package.zip, the three bootstrappers
// peer\small.exe, peer\large.exe and peer\many.exe, a directory empty\ with
// only setup.exe, quick.exe and remove-tree.exe (the launcher's removal in a
// program of its own, from the tests), and temp\, the TEMP of every run
// (so W is ROOT\temp\KESTRUNE, and the bootstrapper unpacks into a folder
// ROOT\temp\nsNNNN.tmp of its own).
//
// Per round (the small runs three times; each pair in alternating order, each
// group of three or four in rotating order):
//   small-launcher  "ROOT\small\setup.exe" -s
//   small-direct    what the launcher's silent run does, started from here:
//                   unzip.exe, then W\SETUP.EXE -s -SMS, then W\PostProcess.cmd
//                   when present (the benchmark's packages hold none), then W
//                   removed (all inside the timed span)
//   small-peer      "ROOT\peer\small.exe": unpacks, runs SETUP.EXE -s -SMS,
//                   removes its folder
//   large-launcher  "ROOT\large\setup.exe" -s
//   large-extract   only the extraction, started as the launcher starts it;
//                   W is checked and removed after the timed span
//   large-direct    the small-direct sequence on the large medium
//   large-peer      "ROOT\peer\large.exe"
//   many-launcher   "ROOT\many\setup.exe" -s
//   many-extract    only the extraction of the many-files package, as
//                   large-extract; then, timed on its own as many-remove,
//                   ROOT\empty\remove-tree.exe W: the launcher's removal of
//                   that tree, with its process start (see process-start)
//   many-peer       "ROOT\peer\many.exe"
//   process-start   ROOT\empty\quick.exe (the packages' SETUP.EXE, a GUI
//                   program that does next to nothing) started as the
//                   launcher is: what any process costs to start and end
//   launcher-alone  "ROOT\empty\setup.exe" -s with nothing beside it: the
//                   launcher's own start and end (W made and removed, the
//                   children cannot start)
// The launcher and bootstrapper runs also give the user's wait: from the
// counter read just before CreateProcessA to the counter SETUP.EXE read first
// thing when it started (it logs it; the counter is one for the whole system).
// Before each run the console hosts of earlier runs have ended (settle()).
// Round 0 warms up and is not reported. Every run is checked: SETUP.EXE ran
// once, after the large payload came out whole; whatever a run left in TEMP
// (W, or the bootstrapper's folder) is reported and removed before the next.
//
// After the timed rounds, untimed memory runs: the launcher on each medium and
// unzip.exe on the large one, their counters read every 5 ms while they run
// and once more after they ended. (Wine fills the counters from the Linux
// process's /proc status, which has no memory lines once the process is gone,
// so the reading after the end is often zero.) Last, one untimed extraction
// by unzip.exe into ROOT\kept, left there for run.sh to compare byte for
// byte with the packed files.
//
// A GUI program, like the launcher: neither has a console, so a console
// child (unzip.exe, cmd.exe for a PostProcess.cmd) gets one of its own in
// both kinds of run, as when a medium is started from the desktop.
//
// Writes to ROOT\driver.txt one line per measurement:
//   run VARIANT ROUND MILLISECONDS
//   wait VARIANT ROUND MILLISECONDS            (until SETUP.EXE started)
//   step VARIANT ROUND CHILD MILLISECONDS      (children of the direct runs)
//   left VARIANT ROUND ENTRIES                 (left in TEMP right after the run)
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
    if (!CreateProcessA(
            nullptr, &command[0], extractor ? nullptr : &processSecurity, extractor ? nullptr : &threadSecurity, FALSE,
            extractor ? extractorCreationFlags : programCreationFlags, nullptr, directory.c_str(), &startup, &child)) {
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
            if (!isDirectory)
                DeleteFileA(entryPath.c_str());
            else if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                RemoveDirectoryA(entryPath.c_str());
            else
                removeTree(entryPath);
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
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            total += treeBytes(path + "\\" + name);
        else
            total += (static_cast<unsigned long long>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
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

// The counter SETUP.EXE logged when it started ("started N"), or -1 when the
// log does not hold exactly one such line.
long long setupStartCount(const std::string& text) {
    const std::string tag = "started ";
    const size_t at = text.find(tag);
    if (at == std::string::npos || countOf(text, tag) != 1) return -1;
    return std::strtoll(text.c_str() + at + tag.size(), nullptr, 10);
}

struct Bench {
    std::string root, password, log, temp;
    mutable PROCESS_MEMORY_COUNTERS lastEnded{};  // of the last timed launcher run, read after its end
    mutable int currentRound = 0;
    unsigned long long largeTotalBytes = 0, largeRandomBytes = 0, manyTotalBytes = 0;

    std::string workDirectory() const { return temp + "KESTRUNE"; }

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

    // Every run must have reached SETUP.EXE once with the silent arguments,
    // and (large package) after the whole payload was extracted. Returns the
    // milliseconds from `startCount` (read just before the run was started)
    // until SETUP.EXE started.
    double checkLog(const std::string& variant, bool large, long long startCount) const {
        const std::string text = readFile(log);
        if (countOf(text, "\\SETUP.EXE\" -s -SMS") != 1) fail(variant + ": SETUP.EXE not run once");
        if (large && text.find("payload " + std::to_string(largeRandomBytes)) == std::string::npos)
            fail(variant + ": payload not extracted whole");
        const long long setupStart = setupStartCount(text);
        if (setupStart < startCount) fail(variant + ": no start time from SETUP.EXE");
        DeleteFileA(log.c_str());
        return static_cast<double>(setupStart - startCount) * 1000.0 / counterFrequency;
    }

    // Whatever a run left in TEMP (W, or a bootstrapper's folder) is counted
    // ("left VARIANT ROUND ENTRIES_IN_IT") and then removed outside the timed
    // span. (Under Wine a console child started with a console of its own,
    // such as cmd.exe for a PostProcess.cmd, keeps its current directory W
    // locked for a moment after it ended, so a removal right after it can
    // fail.)
    void clearLeftInTemp(const std::string& variant, int round) const {
        WIN32_FIND_DATAA entry;
        const HANDLE search = FindFirstFileA((temp + "*.*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) return;
        std::string left;
        do {
            const std::string name = entry.cFileName;
            if (name != "." && name != "..") left = temp + name;
        } while (left.empty() && FindNextFileA(search, &entry));
        FindClose(search);
        if (left.empty()) return;
        if (round > 0) std::fprintf(out, "left %s %d %d\n", variant.c_str(), round, entriesIn(left));
        for (int step = 0; step < 1000 && exists(left); ++step) {
            Sleep(10);
            if (GetFileAttributesA(left.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(left);
            else
                DeleteFileA(left.c_str());
        }
        if (exists(left)) fail(variant + ": " + left + " cannot be removed");
        clearLeftInTemp(variant, 0);
    }

    void startClean() const {
        if (entriesIn(temp.substr(0, temp.size() - 1)) != 0) fail("TEMP not empty before a run");
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
        if (entriesIn(temp.substr(0, temp.size() - 1)) != 0) fail(commandLine + ": something left in TEMP");
        return ms;
    }

    struct TopRun {
        double ms = 0;    // the whole run
        double wait = 0;  // until SETUP.EXE started
    };

    // Starts `command` from ROOT as a user starts a medium's program and
    // waits for its end; with `peaks`, its memory is read as it runs.
    TopRun topRun(const std::string& variant, const std::string& commandLine, bool large,
                  MemoryPeaks* peaks = nullptr) const {
        startClean();
        std::string command = commandLine;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        LARGE_INTEGER startCount;
        double start = 0;
        // Under load Wine now and then fails to create a process at all
        // (ERROR_INTERNAL_ERROR): that start is tried again, timed afresh.
        for (int attempt = 1;; ++attempt) {
            QueryPerformanceCounter(&startCount);
            start = nowMs();
            if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, root.c_str(), &startup,
                               &process)) {
                break;
            }
            if (attempt == 3) fail("cannot start " + command);
            std::fprintf(out, "restart %s %d %lu\n", variant.c_str(), currentRound,
                         static_cast<unsigned long>(GetLastError()));
            Sleep(200);
        }
        waitForEnd(process.hProcess, 2 * childWaitLimit, command, peaks);
        TopRun run;
        run.ms = nowMs() - start;
        if (peaks == nullptr) lastEnded = readMemory(process.hProcess);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        run.wait = checkLog(variant, large, startCount.QuadPart);
        clearLeftInTemp(variant, peaks == nullptr ? currentRound : 0);
        return run;
    }

    double launcherRun(const std::string& medium, MemoryPeaks* peaks = nullptr) const {
        const std::string variant = medium + "-launcher";
        const TopRun run = topRun(variant, "\"" + root + "\\" + medium + "\\setup.exe\" -s", medium == "large", peaks);
        if (peaks == nullptr) {
            report(variant.c_str(), currentRound, run.ms);
            reportWait(variant, run.wait);
            reportEnded(variant.c_str(), currentRound);
        }
        return run.ms;
    }

    // The NSIS bootstrapper of the same payload (bench/peer.nsi).
    void peerRun(const std::string& medium) const {
        const std::string variant = medium + "-peer";
        const TopRun run = topRun(variant, "\"" + root + "\\peer\\" + medium + ".exe\"", medium == "large");
        report(variant.c_str(), currentRound, run.ms);
        reportWait(variant, run.wait);
    }

    void reportWait(const std::string& variant, double ms) const {
        if (currentRound > 0) std::fprintf(out, "wait %s %d %.1f\n", variant.c_str(), currentRound, ms);
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
        LARGE_INTEGER startCount;
        QueryPerformanceCounter(&startCount);
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
        checkLog(variant, medium == "large", startCount.QuadPart);
        clearLeftInTemp(variant, round);
        report(variant.c_str(), round, end - start);
        reportStep(variant.c_str(), round, "unzip.exe", extraction.ms);
        reportStep(variant.c_str(), round, "SETUP.EXE", setup.ms);
        if (script.ms > 0) reportStep(variant.c_str(), round, "PostProcess.cmd", script.ms);
        reportStep(variant.c_str(), round, "removal", end - removalStart);
    }

    // The extraction alone of `medium` into `w`; returns its time. The tree
    // is checked and, unless `keep`, removed after the timed span.
    double extractionRun(const std::string& w, bool keep = false, MemoryPeaks* peaks = nullptr,
                         const std::string& medium = "large") const {
        startClean();
        const std::string p = root + "\\" + medium;
        const double start = nowMs();
        CreateDirectoryA(w.c_str(), nullptr);
        const ChildResult extraction = runChild(true, p, extractionCommand(medium, w), peaks);
        const double ms = nowMs() - start;
        const std::string variant = medium + "-extract";
        if (extraction.exitCode != 0) fail(variant + ": unzip.exe exit code " + std::to_string(extraction.exitCode));
        const unsigned long long bytes = treeBytes(w);
        const unsigned long long expected = medium == "large" ? largeTotalBytes : manyTotalBytes;
        if (bytes != expected)
            fail(variant + ": " + std::to_string(bytes) + " bytes extracted, not " + std::to_string(expected));
        if (!keep) removeTree(w);
        return ms;
    }

    // The many-files extraction, then the launcher's removal of its tree,
    // each timed on its own.
    void manyExtractAndRemove(int round) const {
        const std::string w = workDirectory();
        report("many-extract", round, extractionRun(w, true, nullptr, "many"));
        settle();
        const ChildResult removal = runChild(false, root, "\"" + root + "\\empty\\remove-tree.exe\" \"" + w + "\"");
        if (exists(w)) fail("many-remove: the tree is still there");
        report("many-remove", round, removal.ms);
    }

    // The small runs are short and so noisier: each round runs them
    // smallRepeats times, numbered on from round to round.
    static constexpr int smallRepeats = 3;

    void round(int number) const {
        for (int repeat = 0; repeat < smallRepeats; ++repeat) {
            const int run = number == 0 ? 0 : (number - 1) * smallRepeats + repeat + 1;
            currentRound = run;
            // Rotating order, so that a drift of the machine favours none.
            const int turn = number * smallRepeats + repeat;
            for (int i = 0; i < 3; ++i) {
                const int which = (turn + i) % 3;
                if (which == 0)
                    launcherRun("small");
                else if (which == 1)
                    directRun("small", run);
                else
                    peerRun("small");
            }
            for (int i = 0; i < 2; ++i) {
                if ((i == 0) == (turn % 2 == 0))
                    report("launcher-alone", run, startRun("\"" + root + "\\empty\\setup.exe\" -s"));
                else
                    report("process-start", run, startRun("\"" + root + "\\empty\\quick.exe\""));
            }
        }
        currentRound = number;
        // The three many-files runs take every place in turn.
        for (int i = 0; i < 3; ++i) {
            const int which = (number + i) % 3;
            if (which == 0)
                launcherRun("many");
            else if (which == 1)
                manyExtractAndRemove(number);
            else
                peerRun("many");
        }
        // The four large runs take every place in turn.
        for (int i = 0; i < 4; ++i) {
            const int which = (number + i) % 4;
            if (which == 0)
                launcherRun("large");
            else if (which == 1)
                report("large-extract", number, extractionRun(workDirectory()));
            else if (which == 2)
                directRun("large", number);
            else
                peerRun("large");
        }
    }

    void memoryRuns(int runs) const {
        currentRound = 0;
        for (int run = 1; run <= runs; ++run) {
            MemoryPeaks small, large, extractor;
            launcherRun("small", &small);
            reportMemory("small-launcher", run, small);
            launcherRun("large", &large);
            reportMemory("large-launcher", run, large);
            extractionRun(workDirectory(), false, &extractor);
            reportMemory("unzip-large", run, extractor);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fputs("usage: bench-driver ROUNDS ROOT PASSWORD LARGE_TOTAL_BYTES LARGE_RANDOM_BYTES MANY_TOTAL_BYTES\n",
                   stderr);
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
    bench.manyTotalBytes = std::strtoull(argv[6], nullptr, 10);
    bench.log = bench.root + "\\children.log";
    bench.temp = bench.root + "\\temp\\";
    out = std::fopen((bench.root + "\\driver.txt").c_str(), "w");
    if (out == nullptr) return 3;
    CreateDirectoryA(bench.temp.c_str(), nullptr);
    // The children inherit these from the launcher or from this driver alike.
    SetEnvironmentVariableA("TEMP", bench.temp.c_str());
    SetEnvironmentVariableA("TMP", bench.temp.c_str());
    SetEnvironmentVariableA("KESTRUNE_BENCH_LOG", bench.log.c_str());
    bench.clearLeftInTemp("before", 0);

    std::fprintf(out, "counter %.0f Hz\n", counterFrequency);
    for (int number = 0; number <= rounds; ++number) bench.round(number);
    bench.memoryRuns(3);
    // For run.sh's byte-for-byte comparison.
    const std::string kept = bench.root + "\\kept";
    removeTree(kept);
    bench.extractionRun(kept, true);
    std::fprintf(out, "kept %s\n", kept.c_str());
    return 0;
}
