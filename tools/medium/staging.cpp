#include "staging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "file_io.h"

namespace {

volatile sig_atomic_t pendingSignal = 0;
const int handledSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int signal) { pendingSignal = signal; }

// "a/b/medium/" gives "a/b" and "medium".
void splitTarget(const std::string& target, std::string& parent, std::string& name) {
    std::string trimmed = target;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    parent = slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
    name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// Every folder a medium is made in gets the usual permissions, not mkdtemp's
// owner-only ones.
void applyUsualMode(const std::string& path) {
    const mode_t mask = umask(0);
    umask(mask);
    chmod(path.c_str(), 0777 & ~mask);
}

}  // namespace

std::string targetProblem(const std::string& target, bool replace) {
    std::string parent, name;
    splitTarget(target, parent, name);
    if (name.empty() || name == "." || name == ".." || name == "/") {
        return "output " + target + " must name a folder of its own (not ., .. or /)";
    }
    if (pathKind(parent) != PathKind::directory) return "the folder " + parent + " that should hold " + target + " does not exist";
    switch (pathKind(target)) {
    case PathKind::missing:
        return "";
    case PathKind::directory:
        break;
    case PathKind::unreachable:
        return "cannot reach output " + target + ": " + systemErrorText(errno);
    default:
        return "output " + target + " exists and is not a folder";
    }
    bool empty = false;
    std::string error;
    if (!directoryIsEmpty(target, empty, error)) return error;
    if (!empty && !replace) return "output " + target + " already holds files; give --force to replace that medium";
    return "";
}

bool createStaging(const std::string& target, Staging& staging, std::string& error) {
    std::string parent, name;
    splitTarget(target, parent, name);
    std::string pattern = joinHostPath(parent, "." + name + ".kestrune-medium-XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        error = "cannot create a temporary folder in " + parent + ": " + systemErrorText(errno);
        return false;
    }
    staging.target = target;
    staging.path = buffer.data();
    applyUsualMode(staging.path);
    return true;
}

bool commitStaging(Staging& staging, bool replace, std::string& error) {
    std::string parent, name;
    splitTarget(staging.target, parent, name);
    const std::string target = joinHostPath(parent, name);
    std::string syncError;
    if (!syncPath(staging.path, syncError)) {
        error = syncError;
        return false;
    }
    // rename() puts a folder in the place of a missing or empty one, and
    // fails on one that holds files, so a medium that appeared meanwhile
    // is not overwritten without --force.
    if (rename(staging.path.c_str(), target.c_str()) == 0) {
        staging.path.clear();
        syncPath(parent, syncError);
        return true;
    }
    if (!replace || (errno != ENOTEMPTY && errno != EEXIST)) {
        error = "cannot put the medium at " + target + ": " + systemErrorText(errno);
        return false;
    }
    // The old and new media change places in one step; the temporary name
    // then holds the old one, removed only now that the new one stands.
    if (renameat2(AT_FDCWD, staging.path.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        syncPath(parent, syncError);
        discardStaging(staging);
        return true;
    }
    // Without an atomic exchange (some file systems): move the old medium
    // aside, put the new one in place, and move the old one back if that fails.
    const std::string aside = staging.path + ".old";
    if (rename(target.c_str(), aside.c_str()) != 0) {
        error = "cannot move the old medium " + target + " aside: " + systemErrorText(errno);
        return false;
    }
    if (rename(staging.path.c_str(), target.c_str()) != 0) {
        error = "cannot put the medium at " + target + ": " + systemErrorText(errno);
        rename(aside.c_str(), target.c_str());
        return false;
    }
    staging.path.clear();
    syncPath(parent, syncError);
    removeTree(aside);
    return true;
}

void discardStaging(Staging& staging) {
    if (staging.path.empty()) return;
    removeTree(staging.path);
    staging.path.clear();
}

void installInterruptHandlers() {
    for (int signal : handledSignals) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        // No SA_RESTART: a blocking read returns early so the flag is seen.
        // SA_RESETHAND: a second signal has the default effect and ends the tool.
        action.sa_flags = SA_RESETHAND;
        sigaction(signal, &action, nullptr);
    }
}

bool interruptRequested() { return pendingSignal != 0; }

void reraiseInterrupt() {
    const int signal = pendingSignal;
    if (signal == 0) return;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    // Only if the signal was blocked: end with the shell's code for it.
    std::_Exit(128 + signal);
}
