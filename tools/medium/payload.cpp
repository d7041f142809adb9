#include "payload.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "command_line.h"
#include "entry_name.h"
#include "file_io.h"
#include "medium_names.h"

namespace {

std::string upperCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

bool isAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

struct Walk {
    Payload* payload;
    // Folders being walked, by device and inode: a link back to one of them
    // would make the walk endless.
    std::set<std::pair<dev_t, ino_t>> open;
    // Upper-cased entry names: Windows does not tell "a.txt" from "A.TXT".
    std::map<std::string, std::string> byFoldedName;
    std::string error;
};

bool listDirectory(const std::string& path, std::vector<std::string>& names, std::string& error) {
    DIR* directory = opendir(path.c_str());
    if (directory == nullptr) {
        error = "cannot read folder " + path + ": " + systemErrorText(errno);
        return false;
    }
    errno = 0;
    while (const dirent* entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.push_back(entry->d_name);
        }
    }
    const int readError = errno;
    closedir(directory);
    if (readError != 0) {
        error = "cannot read folder " + path + ": " + systemErrorText(readError);
        return false;
    }
    std::sort(names.begin(), names.end());
    return true;
}

bool addEntry(Walk& walk, const PayloadEntry& entry) {
    // A file "a" and a folder "A/" collide as well.
    std::string folded = upperCase(entry.name);
    if (entry.directory) folded.pop_back();
    const auto [existing, added] = walk.byFoldedName.emplace(folded, entry.name);
    if (!added) {
        walk.error = "payload names " + printable(existing->second) + " and " + printable(entry.name) +
                     " differ only in case; on Windows one would overwrite the other";
        return false;
    }
    if (walk.payload->entries.size() >= maxPayloadEntries) {
        walk.error = "payload has more than " + std::to_string(maxPayloadEntries) +
                     " files and folders; unzip.exe reads no larger (zip64) archives";
        return false;
    }
    if (!isAscii(entry.name)) {
        walk.payload->warnings.push_back(printable(entry.name) +
                                         " is not plain ASCII; unzip.exe creates names in the Windows "
                                         "ANSI code page, so it may be spelled differently there");
    }
    walk.payload->entries.push_back(entry);
    return true;
}

// Opening each file now finds an unreadable one before anything is written.
bool checkReadable(const std::string& path, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + path + ": " + systemErrorText(errno);
        return false;
    }
    close(fd);
    return true;
}

bool walkDirectory(Walk& walk, const std::string& hostPath, const std::string& prefix);

bool walkEntry(Walk& walk, const std::string& hostPath, const std::string& name) {
    struct stat status;
    // Links are followed: the medium gets what they point at.
    if (stat(hostPath.c_str(), &status) != 0) {
        walk.error = "cannot read " + hostPath + ": " + systemErrorText(errno);
        return false;
    }
    PayloadEntry entry;
    entry.hostPath = hostPath;
    entry.modified = status.st_mtime;
    if (S_ISDIR(status.st_mode)) {
        if (walk.open.count({status.st_dev, status.st_ino}) != 0) {
            walk.error = hostPath + " leads back to a folder that holds it (a link loop)";
            return false;
        }
        entry.name = name + "/";
        entry.directory = true;
        if (!addEntry(walk, entry)) return false;
        walk.open.insert({status.st_dev, status.st_ino});
        const bool walked = walkDirectory(walk, hostPath, entry.name);
        walk.open.erase({status.st_dev, status.st_ino});
        return walked;
    }
    if (!S_ISREG(status.st_mode)) {
        walk.error = hostPath + " is neither a file nor a folder";
        return false;
    }
    if (static_cast<uint64_t>(status.st_size) > maxPayloadFileSize) {
        walk.error = hostPath + " is 4 GiB or larger; unzip.exe reads no larger (zip64) entries";
        return false;
    }
    if (!checkReadable(hostPath, walk.error)) return false;
    entry.name = name;
    entry.size = static_cast<uint64_t>(status.st_size);
    if (!addEntry(walk, entry)) return false;
    walk.payload->fileCount += 1;
    walk.payload->totalBytes += entry.size;
    return true;
}

bool walkDirectory(Walk& walk, const std::string& hostPath, const std::string& prefix) {
    std::vector<std::string> names;
    if (!listDirectory(hostPath, names, walk.error)) return false;
    for (const std::string& component : names) {
        const std::string problem = componentProblem(component);
        if (!problem.empty()) {
            walk.error = "payload name " + printable(prefix + component) + " cannot be used on Windows: " + problem;
            return false;
        }
        if (!walkEntry(walk, joinHostPath(hostPath, component), prefix + component)) return false;
    }
    return true;
}

}  // namespace

std::string componentProblem(const std::string& component) {
    // The extraction tool's own rules first: it refuses these names.
    if (const char* problem = entry_name_problem(component)) return problem;
    // It takes '\' as a separator, as Windows does: a Linux name holding one
    // would come out as a folder and a file.
    if (component.find('\\') != std::string::npos) return "a backslash, which Windows takes as a separator";
    // Windows drops these when it creates the file, so the name changes.
    if (component.back() == '.' || component.back() == ' ') return "ends in a dot or a blank";
    return "";
}

std::string setupProgramProblem(const std::vector<std::string>& rootNames, const std::string& where) {
    std::vector<std::string> otherSpellings;
    for (const std::string& name : rootNames) {
        if (name == setupProgramName) return "";
        if (upperCase(name) == setupProgramName) otherSpellings.push_back(name);
    }
    std::string problem = std::string("no ") + setupProgramName + " at the root of " + where;
    if (!otherSpellings.empty()) {
        problem += ", only " + printable(otherSpellings.front()) + ", which differs in case; name it " +
                   setupProgramName + " exactly, as the launcher runs it";
    }
    return problem;
}

bool scanPayload(const std::string& directory, Payload& payload, std::string& error) {
    payload = Payload{};
    const PathKind kind = pathKind(directory);
    if (kind == PathKind::missing) {
        error = "payload folder " + directory + " does not exist";
        return false;
    }
    if (kind != PathKind::directory) {
        error = "payload " + directory + " is not a folder";
        return false;
    }
    struct stat status;
    if (stat(directory.c_str(), &status) != 0) {
        error = "cannot read payload folder " + directory + ": " + systemErrorText(errno);
        return false;
    }
    Walk walk{&payload, {{status.st_dev, status.st_ino}}, {}, {}};
    if (!walkDirectory(walk, directory, "")) {
        error = walk.error;
        return false;
    }
    std::vector<std::string> rootNames;
    for (const PayloadEntry& entry : payload.entries) {
        if (!entry.directory && entry.name.find('/') == std::string::npos) rootNames.push_back(entry.name);
    }
    error = setupProgramProblem(rootNames, "payload " + directory);
    return error.empty();
}
