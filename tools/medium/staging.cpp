#include "staging.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command_line.h"
#include "file_io.h"
#include "medium_names.h"
#include "output_folder.h"

namespace {

volatile sig_atomic_t pendingSignal = 0;
const int handledSignals[] = {SIGINT, SIGTERM, SIGHUP};
const std::string stagingMark = ".kestrune-medium-";
constexpr size_t stagingRandomLength = 6;  // mkdtemp's XXXXXX
// A medium moved aside while it is replaced, where no atomic exchange exists.
const std::string asideSuffix = ".old";

void onSignal(int signal) { pendingSignal = signal; }

std::vector<std::string> plannedOutputs;
std::vector<std::string> writtenOutputs;

std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    }
    return text;
}

// The last look at the flag before an output is put in place.
bool interruptedBeforeCommit(std::string& error) {
    if (pendingSignal == 0) return false;
    error = "interrupted";
    return true;
}

// Whether `name` is a temporary folder of a build of `mediumName`.
bool isStagingName(const std::string& name, const std::string& mediumName) {
    const std::string start = "." + mediumName + stagingMark;
    if (name.compare(0, start.size(), start) != 0) return false;
    const std::string rest = name.substr(start.size());
    return rest.size() == stagingRandomLength ||
           (rest.size() == stagingRandomLength + asideSuffix.size() &&
            rest.compare(stagingRandomLength, std::string::npos, asideSuffix) == 0);
}

// A lock on the folder at `path`, held while the descriptor is open: -1
// when it cannot be opened, or (with `busy`) when another build holds it.
int lockFolder(const std::string& path, bool& busy) {
    busy = false;
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        busy = errno == EWOULDBLOCK;
        close(fd);
        return -1;
    }
    return fd;
}

// Removes what killed builds of the same medium left beside it; false when
// a build of it is running now.
bool removeLeftovers(const std::string& parent, const std::string& name, const std::string& own, Staging& staging,
                     std::string& error) {
    DIR* listing = opendir(parent.c_str());
    if (listing == nullptr) return true;
    std::vector<std::string> candidates;
    while (const dirent* entry = readdir(listing)) {
        if (isStagingName(entry->d_name, name) && joinHostPath(parent, entry->d_name) != own) {
            candidates.push_back(entry->d_name);
        }
    }
    closedir(listing);
    for (const std::string& candidate : candidates) {
        const std::string path = joinHostPath(parent, candidate);
        struct stat status;
        // Only a folder this user could have made; never one someone planted.
        if (lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != geteuid()) continue;
        bool busy = false;
        const int lock = lockFolder(path, busy);
        if (busy) {
            error = "another build of " + quoted(staging.target) + " is running (it works in " + quoted(path) +
                    "); let it end first";
            return false;
        }
        if (lock < 0) continue;
        const bool removed = removeTree(path);
        close(lock);
        staging.notes.push_back(removed ? "removed " + quoted(path) + ", left by an earlier build that was killed"
                                        : "could not remove " + quoted(path) +
                                              ", left by an earlier build that was killed");
    }
    return true;
}

// Every folder a medium is made in (and a disc image) gets the usual
// permissions, not mkdtemp's owner-only ones.
void applyUsualMode(const std::string& path, mode_t mode = 0777) {
    const mode_t mask = umask(0);
    umask(mask);
    chmod(path.c_str(), mode & ~mask);
}

// The new medium folder takes the place of `target`: it keeps that
// folder's owner and mode.
void releaseLock(Staging& staging) {
    if (staging.lock >= 0) close(staging.lock);
    staging.lock = -1;
}

void keepOwnerAndMode(Staging& staging, const std::string& target) {
    struct stat old;
    if (lstat(target.c_str(), &old) != 0 || !S_ISDIR(old.st_mode)) return;
    struct stat made;
    if (stat(staging.path.c_str(), &made) == 0 && (made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
        chown(staging.path.c_str(), old.st_uid, old.st_gid) != 0) {
        staging.notes.push_back("could not keep the owner of " + quoted(target) + " (" + systemErrorText(errno) +
                                "); the medium folder belongs to you now");
    }
    chmod(staging.path.c_str(), old.st_mode & 07777);
}

// Removes a replaced medium: its own files, then the folder. Anything else
// that appeared in it meanwhile is left, with the folder, and named.
void removeReplacedMedium(const std::string& path, Staging& staging) {
    for (const char* name : mediumFolderNames) {
        const std::string file = joinHostPath(path, name);
        struct stat status;
        if (lstat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode)) unlink(file.c_str());
    }
    if (rmdir(path.c_str()) != 0) {
        staging.notes.push_back("the old medium's folder is kept at " + quoted(path) +
                                ": something other than a medium was put in it during the build");
    }
}

}  // namespace

bool createStaging(const std::string& target, Staging& staging, std::string& error) {
    std::string parent, name;
    splitOutputPath(target, parent, name);
    std::string pattern = joinHostPath(parent, "." + name + stagingMark + std::string(stagingRandomLength, 'X'));
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        error = "cannot create a temporary folder in " + quoted(parent) + ": " + systemErrorText(errno);
        return false;
    }
    staging.target = target;
    staging.path = buffer.data();
    bool busy = false;
    staging.lock = lockFolder(staging.path, busy);
    applyUsualMode(staging.path);
    // Looked for only once this build's own folder is locked, so that two
    // builds started together see each other.
    return removeLeftovers(parent, name, staging.path, staging, error);
}

bool commitStaging(Staging& staging, bool replace, std::string& error) {
    std::string parent, name;
    splitOutputPath(staging.target, parent, name);
    const std::string target = joinHostPath(parent, name);
    std::string syncError;
    if (!syncPath(staging.path, syncError)) {
        error = syncError;
        return false;
    }
    keepOwnerAndMode(staging, target);
    if (interruptedBeforeCommit(error)) return false;
    // rename() puts a folder in the place of a missing or empty one, and
    // fails on one that holds files, so a medium that appeared meanwhile
    // is not overwritten without --force.
    if (rename(staging.path.c_str(), target.c_str()) == 0) {
        staging.path.clear();
        releaseLock(staging);
        syncPath(parent, syncError);
        return true;
    }
    if (!replace || (errno != ENOTEMPTY && errno != EEXIST)) {
        error = "cannot put the medium at " + quoted(target) + ": " + systemErrorText(errno);
        return false;
    }
    // The old and new media change places in one step; the temporary name
    // then holds the old one, removed only now that the new one stands.
    if (renameat2(AT_FDCWD, staging.path.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        syncPath(parent, syncError);
        removeReplacedMedium(staging.path, staging);
        staging.path.clear();
        releaseLock(staging);
        return true;
    }
    // Without an atomic exchange (some file systems): move the old medium
    // aside, put the new one in place, and move the old one back if that
    // fails. The old one is locked meanwhile, so that no other build takes
    // it for a leftover.
    const std::string aside = staging.path + asideSuffix;
    bool busy = false;
    const int oldLock = lockFolder(target, busy);
    if (rename(target.c_str(), aside.c_str()) != 0) {
        error = "cannot move the old medium " + quoted(target) + " aside: " + systemErrorText(errno);
        if (oldLock >= 0) close(oldLock);
        return false;
    }
    if (rename(staging.path.c_str(), target.c_str()) != 0) {
        error = "cannot put the medium at " + quoted(target) + ": " + systemErrorText(errno);
        rename(aside.c_str(), target.c_str());
        if (oldLock >= 0) close(oldLock);
        return false;
    }
    staging.path.clear();
    releaseLock(staging);
    syncPath(parent, syncError);
    removeReplacedMedium(aside, staging);
    if (oldLock >= 0) close(oldLock);
    return true;
}

bool commitStagedFile(Staging& staging, const std::string& name, bool replace, std::string& error) {
    std::string parent, targetName;
    splitOutputPath(staging.target, parent, targetName);
    const std::string target = joinHostPath(parent, targetName);
    const std::string made = joinHostPath(staging.path, name);
    if (!syncPath(made, error)) return false;
    struct stat old;
    if (replace && lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        if (chown(made.c_str(), old.st_uid, old.st_gid) != 0 && (old.st_uid != geteuid() || old.st_gid != getegid())) {
            staging.notes.push_back("could not keep the owner of " + quoted(target) + " (" + systemErrorText(errno) +
                                    "); the disc image belongs to you now");
        }
        chmod(made.c_str(), old.st_mode & 07777);
    } else {
        applyUsualMode(made, 0666);
    }
    if (interruptedBeforeCommit(error)) return false;
    int moved = replace ? rename(made.c_str(), target.c_str())
                        : renameat2(AT_FDCWD, made.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    // Without RENAME_NOREPLACE (some file systems), a hard link is made
    // only where no name is.
    if (moved != 0 && !replace && errno == EINVAL) {
        moved = link(made.c_str(), target.c_str());
        if (moved == 0) unlink(made.c_str());
    }
    if (moved != 0) {
        error = "cannot put the disc image at " + quoted(target) + ": " + systemErrorText(errno);
        return false;
    }
    std::string ignored;
    syncPath(parent, ignored);
    discardStaging(staging);
    return true;
}

void discardStaging(Staging& staging) {
    if (!staging.path.empty()) removeTree(staging.path);
    staging.path.clear();
    releaseLock(staging);
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

void planOutput(const std::string& what) { plannedOutputs.push_back(what); }

void noteWritten(const std::string& what) { writtenOutputs.push_back(what); }

std::string interruptionText(const std::vector<std::string>& planned, const std::vector<std::string>& written) {
    if (written.empty()) return "interrupted; nothing was written";
    std::vector<std::string> missing;
    for (const std::string& output : planned) {
        bool done = false;
        for (const std::string& item : written) done = done || item == output;
        if (!done) missing.push_back(output);
    }
    const std::string text = "interrupted; " + listed(written) + (written.size() == 1 ? " was" : " were") + " written";
    if (missing.empty()) return text + ", all there was to write";
    return text + "; " + listed(missing) + (missing.size() == 1 ? " was not" : " were not");
}

void reraiseInterrupt() {
    const int signal = pendingSignal;
    if (signal == 0) return;
    printError(interruptionText(plannedOutputs, writtenOutputs));
    std::fflush(stderr);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    // Only if the signal was blocked: end with the shell's code for it.
    std::_Exit(128 + signal);
}
