#include "output_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "command_line.h"
#include "file_io.h"
#include "disc_image.h"
#include "medium_names.h"

namespace {

bool within(const std::string& inner, const std::string& outer) {
    if (outer == "/") return true;
    return inner == outer || inner.compare(0, outer.size() + 1, outer + "/") == 0;
}

bool isMediumFileName(const std::string& name) {
    for (const char* mediumName : mediumFolderNames) {
        if (name == mediumName) return true;
    }
    return false;
}

// Why the folder is not a medium and nothing else, or "".
std::string foreignContent(const std::string& target, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        struct stat status;
        const std::string path = joinHostPath(target, name);
        if (!isMediumFileName(name)) return "holds " + quoted(name) + ", which is not part of a medium";
        if (lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
            return "holds " + quoted(name) + ", which is not a regular file";
        }
    }
    for (const char* required : {launcherFileName, extractorFileName, packageFileName}) {
        if (std::find(names.begin(), names.end(), required) == names.end()) {
            return std::string("holds no whole medium (no ") + required + ")";
        }
    }
    return "";
}

// Whether this process may add and remove names in `parent` (the rename
// does both), with its effective user, as the rename will be made.
std::string parentProblem(const std::string& parent, const std::string& target, bool replacing) {
    if (faccessat(AT_FDCWD, parent.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return "cannot put a medium in " + quoted(parent) + ": " + systemErrorText(errno);
    }
    struct stat folder, existing;
    // In a sticky folder (/tmp) only a folder's owner may replace it.
    if (replacing && stat(parent.c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) != 0 &&
        lstat(target.c_str(), &existing) == 0 && geteuid() != 0 && existing.st_uid != geteuid() &&
        folder.st_uid != geteuid()) {
        return "cannot replace " + quoted(target) + ": it belongs to another user in the sticky folder " +
               quoted(parent);
    }
    return "";
}

}  // namespace

void splitOutputPath(const std::string& target, std::string& parent, std::string& name) {
    std::string trimmed = target;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    parent = slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
    name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string resolvedOutputPath(const std::string& target) {
    std::string parent, name;
    splitOutputPath(target, parent, name);
    const std::string parentPath = resolvedPath(parent);
    return parentPath.empty() ? "" : joinHostPath(parentPath, name);
}

std::string outputFolderProblem(const std::string& target, bool replace) {
    std::string parent, name;
    splitOutputPath(target, parent, name);
    if (name.empty() || name == "." || name == ".." || name == "/") {
        return "output " + quoted(target) + " must name a folder of its own (not ., .. or /)";
    }
    if (pathKind(parent) != PathKind::directory) {
        return "the folder " + quoted(parent) + " that should hold " + quoted(target) + " does not exist";
    }
    struct stat status;
    if (lstat(target.c_str(), &status) != 0) {
        if (errno != ENOENT) return "cannot reach output " + quoted(target) + ": " + systemErrorText(errno);
        return parentProblem(parent, target, false);
    }
    if (S_ISLNK(status.st_mode)) {
        std::vector<char> buffer(4096);
        const ssize_t length = readlink(target.c_str(), buffer.data(), buffer.size());
        return "output " + quoted(target) + " is a symbolic link" +
               (length < 0 ? std::string() : " to " + quoted(std::string(buffer.data(), static_cast<size_t>(length)))) +
               "; the medium is renamed into its place, so give the folder itself";
    }
    if (!S_ISDIR(status.st_mode)) return "output " + quoted(target) + " exists and is not a folder";
    if (isMountPoint(target)) {
        return "output " + quoted(target) +
               " is a mount point; the medium is renamed into its place, so give a folder inside it";
    }
    std::vector<std::string> names;
    std::string error;
    if (!directoryNames(target, names, error)) return error;
    if (!names.empty()) {
        const std::string foreign = foreignContent(target, names);
        if (!foreign.empty()) {
            return "output " + quoted(target) + " " + foreign + "; --force replaces only a folder that holds a " +
                   "medium (setup.exe, unzip.exe, package.zip, autorun.inf) and nothing else";
        }
        if (!replace) return "output " + quoted(target) + " holds a medium; give --force to replace it";
    }
    return parentProblem(parent, target, true);
}

std::string imageOutputProblem(const std::string& target, bool replace, const std::string& payload,
                               const std::string& out) {
    std::string parent, name;
    splitOutputPath(target, parent, name);
    if (name.empty() || name == "." || name == ".." || target.back() == '/') {
        return "disc image " + quoted(target) + " must name a file";
    }
    if (pathKind(parent) != PathKind::directory) {
        return "the folder " + quoted(parent) + " that should hold " + quoted(target) + " does not exist";
    }
    const std::string image = resolvedOutputPath(target);
    const std::string payloadPath = resolvedPath(payload);
    if (!image.empty() && !payloadPath.empty() && within(image, payloadPath)) {
        return "the disc image " + quoted(target) + " lies in the payload " + quoted(payload);
    }
    const std::string outPath = out.empty() ? "" : resolvedOutputPath(out);
    if (!image.empty() && !outPath.empty() && within(image, outPath)) {
        return "the disc image " + quoted(target) + (image == outPath ? " is" : " lies in") + " the medium folder " +
               quoted(out);
    }
    struct stat status;
    if (lstat(target.c_str(), &status) != 0) {
        if (errno != ENOENT) return "cannot reach disc image " + quoted(target) + ": " + systemErrorText(errno);
        return parentProblem(parent, target, false);
    }
    if (S_ISLNK(status.st_mode)) {
        return "disc image " + quoted(target) +
               " is a symbolic link; the image is renamed into its place, so give "
               "the file itself";
    }
    if (!replace) return "disc image " + quoted(target) + " exists; give --force to replace it";
    if (!S_ISREG(status.st_mode) || !isDiscImage(target)) {
        return "disc image " + quoted(target) + " exists and is no disc image; --force replaces only a disc image";
    }
    return parentProblem(parent, target, true);
}

std::string outputPlaceProblem(const std::string& target, const std::string& payload,
                               const std::vector<std::string>& homes) {
    const std::string output = resolvedOutputPath(target);
    if (output.empty()) return "";
    const std::string current = resolvedPath(".");
    if (!current.empty() && within(current, output)) {
        return "the output " + quoted(target) + (current == output ? " is" : " holds") + " the current folder";
    }
    for (const std::string& home : homes) {
        const std::string resolvedHome = resolvedPath(home);
        if (!resolvedHome.empty() && within(resolvedHome, output)) {
            return "the output " + quoted(target) + (resolvedHome == output ? " is" : " holds") + " the home folder " +
                   quoted(home);
        }
    }
    const std::string payloadPath = resolvedPath(payload);
    if (payloadPath.empty()) return "";
    if (within(payloadPath, output)) return "the payload " + quoted(payload) + " lies in the output " + quoted(target);
    if (within(output, payloadPath)) return "the output " + quoted(target) + " lies in the payload " + quoted(payload);
    return "";
}

std::vector<std::string> homeFolders() {
    std::vector<std::string> homes;
    if (const char* home = std::getenv("HOME")) {
        if (*home != '\0') homes.push_back(home);
    }
    if (const passwd* user = getpwuid(getuid())) homes.push_back(user->pw_dir);
    if (const char* sudoUser = std::getenv("SUDO_USER")) {
        if (const passwd* user = getpwnam(sudoUser)) homes.push_back(user->pw_dir);
    }
    return homes;
}
