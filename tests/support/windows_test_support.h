// What the Windows-side tests share beyond test_support.h: scratch
// directories on drive C:, the built programs' paths, started programs,
// import slots and the test child's log.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace testing_support {

// The Windows paths of the programs under test (their Z: drive form).
std::string launcherPath();
std::string testChildPath();
std::string extractorPath();
std::string dllSearchProbePath();
std::string foreignBoxPath();
std::string swapperPath();
std::string noticeFirstExtractorPath();
// A file made on the Linux side before the tests run (see make_fixtures.sh).
std::string fixturePath(const std::string& name);
// The package password the build put into the launcher.
std::string packagePassword();

// Where every scratch directory of the Windows tests goes.
constexpr const char* scratchRoot = "C:\\kestrune-tests";
// A new, empty directory C:\kestrune-tests\<name>.
std::string makeScratchDirectory(const std::string& name);
void makeDirectory(const std::string& path);
void removeTree(const std::string& path);
bool pathExists(const std::string& path);
void copyFile(const std::string& from, const std::string& to);
std::string currentDirectory();
// Whether this program runs under Wine rather than Windows.
bool runningUnderWine();

// A program started without waiting for it; ended when this goes.
class StartedProcess {
public:
    explicit StartedProcess(const std::string& commandLine, const std::string& directory = "");
    ~StartedProcess();
    StartedProcess(const StartedProcess&) = delete;
    StartedProcess& operator=(const StartedProcess&) = delete;
    bool started() const { return process_ != nullptr; }
    // Its exit code once it ended within `milliseconds`; otherwise 259
    // (STILL_ACTIVE).
    unsigned long waitForExit(unsigned long milliseconds);

private:
    void* process_ = nullptr;
};

// This program's import slot for `function` of `dll`: the launcher's code
// linked into a test program calls the platform through it, so a test can
// put a function of its own there. Null when it imports no such function.
void** importSlot(const char* dll, const char* function);
// Puts `replacement` into an import slot; gives what was there.
void* replaceImport(void** slot, void* replacement);

// A function of the test's own in this program's import slot for `function`
// of `dll` while it stands; the platform's own goes back when it ends.
template <typename Function>
class ScopedImport {
public:
    ScopedImport(const char* dll, const char* function, Function replacement) : slot_(importSlot(dll, function)) {
        if (slot_ != nullptr) {
            original_ = reinterpret_cast<Function>(replaceImport(slot_, reinterpret_cast<void*>(replacement)));
        }
    }
    ~ScopedImport() {
        if (slot_ != nullptr) replaceImport(slot_, reinterpret_cast<void*>(original_));
    }
    ScopedImport(const ScopedImport&) = delete;
    ScopedImport& operator=(const ScopedImport&) = delete;
    bool active() const { return slot_ != nullptr; }
    // The platform's function, for the replacement to pass the call on.
    Function original() const { return original_; }

private:
    void** slot_;
    Function original_ = nullptr;
};

// For code that looks functions up at run time (GetProcAddress): while this
// stands, looking up `name` gives `replacement` (null: the platform seems
// not to have it). Several may stand at once, for different names.
class ScopedLookUp {
public:
    ScopedLookUp(const char* name, void* replacement);
    ~ScopedLookUp();
    ScopedLookUp(const ScopedLookUp&) = delete;
    ScopedLookUp& operator=(const ScopedLookUp&) = delete;
    bool active() const { return active_; }
    // The platform's own function, for the replacement to pass the call on.
    template <typename Function>
    Function original() const {
        return reinterpret_cast<Function>(original_);
    }

private:
    bool active_ = false;
    void* original_ = nullptr;
};

// Lets everyone change the directory at `path` (its access list grants
// everyone full control): under Wine its Unix mode then lets other users
// write, as C:\ lets every authenticated user on Windows.
bool letEveryoneChange(const std::string& path);

// Waits (at most `milliseconds`) until `path` exists.
bool waitForPath(const std::string& path, unsigned long milliseconds);

// One run of the test child: the "key: value" lines it logged.
using ChildRun = std::map<std::string, std::string>;
std::vector<ChildRun> readChildLog(const std::string& path);

}  // namespace testing_support
