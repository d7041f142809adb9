#include "payload.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "command_line.h"
#include "file_io.h"
#include "medium_names.h"

const char* const defaultExclusions[2] = {".git", ".DS_Store"};

namespace {

std::string upperCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

struct Walk {
    const ScanOptions* options;
    Payload* payload;
};

// What a payload entry of this kind is, for a refusal.
std::string specialKind(mode_t mode) {
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
    if (S_ISSOCK(mode)) return "a socket";
    return "neither a file nor a folder";
}

std::string linkTarget(int directory, const std::string& name) {
    std::vector<char> buffer(4096);
    const ssize_t length = readlinkat(directory, name.c_str(), buffer.data(), buffer.size());
    return length < 0 ? "an unreadable target" : quoted(std::string(buffer.data(), static_cast<size_t>(length)));
}

// The names in an open folder, sorted, so that the archive's order does not
// depend on the order the file system keeps them in.
bool listNames(int directory, const std::string& hostPath, std::vector<std::string>& names, std::string& error) {
    const int listing = dup(directory);
    DIR* stream = listing < 0 ? nullptr : fdopendir(listing);
    if (stream == nullptr) {
        if (listing >= 0) close(listing);
        error = "cannot read folder " + quoted(hostPath) + ": " + systemErrorText(errno);
        return false;
    }
    errno = 0;
    while (const dirent* entry = readdir(stream)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.push_back(entry->d_name);
        }
    }
    const int readError = errno;
    closedir(stream);
    if (readError != 0) {
        error = "cannot read folder " + quoted(hostPath) + ": " + systemErrorText(readError);
        return false;
    }
    std::sort(names.begin(), names.end());
    return true;
}

bool patternMatches(const std::string& pattern, const std::string& component, const std::string& relative,
                    bool directory) {
    std::string body = pattern;
    if (body.size() > 1 && body.back() == '/') {
        if (!directory) return false;
        body.pop_back();
    }
    if (body.find('/') == std::string::npos) return fnmatch(body.c_str(), component.c_str(), 0) == 0;
    return fnmatch(body.c_str(), relative.c_str(), FNM_PATHNAME) == 0;
}

bool excluded(Walk& walk, const std::string& component, const std::string& relative, bool directory) {
    for (Exclusion& exclusion : walk.payload->exclusions) {
        if (patternMatches(exclusion.pattern, component, relative, directory)) {
            (directory ? exclusion.folders : exclusion.files) += 1;
            return true;
        }
    }
    return false;
}

bool sameFile(const struct stat& status, const PayloadEntry& entry) {
    return S_ISREG(status.st_mode) && status.st_dev == entry.device && status.st_ino == entry.inode &&
           static_cast<uint64_t>(status.st_size) == entry.size && status.st_ctim.tv_sec == entry.changed.tv_sec &&
           status.st_ctim.tv_nsec == entry.changed.tv_nsec;
}

// Whether the file opened at `fd` is the one the entry describes; closes
// `fd` and returns -1 when it is not.
int confirmOpened(int fd, const PayloadEntry& entry, std::string& error) {
    if (fd < 0) {
        error = errno == ELOOP ? quoted(entry.hostPath) + " is now a symbolic link; it is not followed"
                               : "cannot read " + quoted(entry.hostPath) + ": " + systemErrorText(errno);
        return -1;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || !sameFile(status, entry)) {
        error = quoted(entry.hostPath) + " is no longer the file that was scanned (it was replaced or changed)";
        close(fd);
        return -1;
    }
    return fd;
}

constexpr int payloadFileFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

bool walkDirectory(Walk& walk, int directory, const std::string& hostPath, const std::string& prefix,
                   std::string& error);

// One name in an open folder. Problems with it are recorded and the walk
// goes on; false only when the whole scan must stop.
bool walkEntry(Walk& walk, int directory, const std::string& component, const std::string& hostPath,
               const std::string& prefix, std::string& error) {
    const std::string path = joinHostPath(hostPath, component);
    struct stat status;
    if (fstatat(directory, component.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        walk.payload->problems.push_back("cannot read " + quoted(path) + ": " + systemErrorText(errno));
        return true;
    }
    const bool isDirectory = S_ISDIR(status.st_mode);
    if (excluded(walk, component, prefix + component, isDirectory)) return true;
    if (S_ISLNK(status.st_mode)) {
        walk.payload->problems.push_back(quoted(path) + " is a symbolic link to " + linkTarget(directory, component) +
                                         "; only files and folders are packed (put the file itself there)");
        return true;
    }
    if (!isDirectory && !S_ISREG(status.st_mode)) {
        walk.payload->problems.push_back(quoted(path) + " is " + specialKind(status.st_mode) +
                                         "; only files and folders are packed");
        return true;
    }
    PayloadEntry entry;
    entry.hostPath = path;
    entry.modified = status.st_mtime;
    entry.device = status.st_dev;
    entry.inode = status.st_ino;
    entry.changed = status.st_ctim;
    if (isDirectory) {
        entry.name = prefix + component + "/";
        entry.directory = true;
        const int inner = openat(directory, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (inner < 0) {
            walk.payload->problems.push_back("cannot read folder " + quoted(path) + ": " + systemErrorText(errno));
            return true;
        }
        Descriptor closer(inner);
        struct stat opened;
        // A folder swapped for another since it was looked at is not walked.
        if (fstat(inner, &opened) != 0 || opened.st_dev != entry.device || opened.st_ino != entry.inode) {
            walk.payload->problems.push_back(quoted(path) + " changed while the payload was read");
            return true;
        }
        walk.payload->entries.push_back(entry);
        return walkDirectory(walk, inner, path, entry.name, error);
    }
    entry.name = prefix + component;
    entry.size = static_cast<uint64_t>(status.st_size);
    // Opening each file now finds an unreadable one before anything is written.
    std::string openError;
    const int fd = confirmOpened(openat(directory, component.c_str(), payloadFileFlags), entry, openError);
    if (fd < 0) {
        walk.payload->problems.push_back(openError);
        return true;
    }
    close(fd);
    walk.payload->entries.push_back(entry);
    walk.payload->fileCount += 1;
    walk.payload->totalBytes += entry.size;
    return true;
}

bool walkDirectory(Walk& walk, int directory, const std::string& hostPath, const std::string& prefix,
                   std::string& error) {
    std::vector<std::string> names;
    std::string listError;
    if (!listNames(directory, hostPath, names, listError)) {
        walk.payload->problems.push_back(listError);
        return true;
    }
    for (const std::string& component : names) {
        if (walk.options->cancelled != nullptr && walk.options->cancelled()) {
            error = "interrupted";
            return false;
        }
        if (!walkEntry(walk, directory, component, hostPath, prefix, error)) return false;
    }
    return true;
}

}  // namespace

std::string setupProgramEntry(const std::vector<std::string>& rootNames) {
    for (const std::string& name : rootNames) {
        if (name == setupProgramName) return name;
    }
    for (const std::string& name : rootNames) {
        if (upperCase(name) == setupProgramName) return name;
    }
    return "";
}

std::string setupProgramProblem(const std::vector<std::string>& rootNames, const std::string& where) {
    if (!setupProgramEntry(rootNames).empty()) return "";
    return std::string("no ") + setupProgramName + " at the root of " + where;
}

bool scanPayload(const std::string& directory, const ScanOptions& options, Payload& payload, std::string& error) {
    payload = Payload{};
    if (options.defaultExcludes) {
        for (const char* pattern : defaultExclusions) payload.exclusions.push_back(Exclusion{pattern, true, 0, 0});
    }
    for (const std::string& pattern : options.excludes) payload.exclusions.push_back(Exclusion{pattern, false, 0, 0});

    // The folder named on the command line may itself be reached through a
    // link: it is what the user gave. Nothing below it is followed.
    const int root = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        const PathKind kind = pathKind(directory);
        error = kind == PathKind::missing ? "payload folder " + quoted(directory) + " does not exist"
                : kind != PathKind::directory
                    ? "payload " + quoted(directory) + " is not a folder"
                    : "cannot read payload folder " + quoted(directory) + ": " + systemErrorText(errno);
        return false;
    }
    Descriptor closer(root);
    Walk walk{&options, &payload};
    if (!walkDirectory(walk, root, directory, "", error)) return false;

    std::vector<std::string> rootNames;
    for (const PayloadEntry& entry : payload.entries) {
        if (!entry.directory && entry.name.find('/') == std::string::npos) rootNames.push_back(entry.name);
    }
    payload.setupEntry = setupProgramEntry(rootNames);
    const std::string setupProblem = setupProgramProblem(rootNames, "payload " + quoted(directory));
    if (!setupProblem.empty()) payload.problems.push_back(setupProblem);
    return true;
}

int openPayloadFile(const PayloadEntry& entry, std::string& error) {
    return confirmOpened(open(entry.hostPath.c_str(), payloadFileFlags), entry, error);
}
