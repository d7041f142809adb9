#include "file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "command_line.h"

namespace {

constexpr size_t chunkSize = 1 << 20;

bool readAt(int fd, uint64_t offset, char* buffer, size_t length, size_t& got) {
    got = 0;
    while (got < length) {
        const ssize_t n = pread(fd, buffer + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const std::string& data) {
    size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = write(fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<size_t>(n);
    }
    return true;
}

bool openForReading(const std::string& path, Descriptor& file, struct stat& status, std::string& error,
                    bool followLink = true) {
    file.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW));
    if (file.fd < 0 || fstat(file.fd, &status) != 0) {
        error = "cannot read " + quoted(path) + ": " + systemErrorText(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = "cannot read " + quoted(path) + ": not a regular file";
        return false;
    }
    return true;
}

bool writeAndSync(int fd, const std::string& path, const std::string& data, std::string& error) {
    if (!writeAll(fd, data) || fsync(fd) != 0) {
        error = "cannot write " + quoted(path) + ": " + systemErrorText(errno);
        return false;
    }
    return true;
}

}  // namespace

Descriptor::~Descriptor() {
    if (fd >= 0) close(fd);
}

std::string systemErrorText(int error) { return std::strerror(error); }

std::string joinHostPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    return directory.back() == '/' ? directory + name : directory + "/" + name;
}

std::string resolvedPath(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) != nullptr ? buffer : "";
}

bool isMountPoint(const std::string& path) {
    struct stat self, parent;
    if (stat(path.c_str(), &self) == 0 && stat(joinHostPath(path, "..").c_str(), &parent) == 0 &&
        self.st_dev != parent.st_dev) {
        return true;
    }
    // A bind mount from the same file system keeps the device number: the
    // kernel's list of mounts tells. Its fifth field is the mount point,
    // with blanks and the like written as octal escapes ("\040").
    const std::string resolved = resolvedPath(path);
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string field, mountPoint;
        for (int i = 0; i < 5 && fields >> field; ++i) mountPoint = field;
        std::string unescaped;
        for (size_t i = 0; i < mountPoint.size(); ++i) {
            if (mountPoint[i] == '\\' && i + 3 < mountPoint.size()) {
                unescaped += static_cast<char>(std::strtol(mountPoint.substr(i + 1, 3).c_str(), nullptr, 8));
                i += 3;
            } else {
                unescaped += mountPoint[i];
            }
        }
        if (!resolved.empty() && unescaped == resolved) return true;
    }
    return false;
}

PathKind pathKind(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? PathKind::missing : PathKind::unreachable;
    }
    if (S_ISREG(status.st_mode)) return PathKind::file;
    if (S_ISDIR(status.st_mode)) return PathKind::directory;
    return PathKind::other;
}

bool readWholeFile(const std::string& path, std::string& data, std::string& error, bool followLink) {
    Descriptor file(-1);
    struct stat status;
    if (!openForReading(path, file, status, error, followLink)) return false;
    data.assign(static_cast<size_t>(status.st_size), '\0');
    size_t got = 0;
    if (!readAt(file.fd, 0, &data[0], data.size(), got)) {
        error = "cannot read " + quoted(path) + ": " + systemErrorText(errno);
        return false;
    }
    data.resize(got);
    return true;
}

bool readFileTail(const std::string& path, size_t maxBytes, std::string& tail, uint64_t& fileSize, std::string& error) {
    Descriptor file(-1);
    struct stat status;
    if (!openForReading(path, file, status, error)) return false;
    fileSize = static_cast<uint64_t>(status.st_size);
    const size_t length = fileSize < maxBytes ? static_cast<size_t>(fileSize) : maxBytes;
    tail.assign(length, '\0');
    size_t got = 0;
    if (!readAt(file.fd, fileSize - length, &tail[0], length, got)) {
        error = "cannot read " + quoted(path) + ": " + systemErrorText(errno);
        return false;
    }
    if (got != length) {
        error = "cannot read " + quoted(path) + ": it shrank while it was read";
        return false;
    }
    return true;
}

bool fileContains(const std::string& path, const std::string& needle, bool& found, std::string& error) {
    Descriptor file(-1);
    struct stat status;
    if (!openForReading(path, file, status, error)) return false;
    found = false;
    // Each chunk is searched together with the end of the previous one, so a
    // needle across a chunk boundary is found too.
    const size_t overlap = needle.empty() ? 0 : needle.size() - 1;
    std::string window;
    std::vector<char> buffer(chunkSize);
    for (uint64_t offset = 0;;) {
        size_t got = 0;
        if (!readAt(file.fd, offset, buffer.data(), buffer.size(), got)) {
            error = "cannot read " + quoted(path) + ": " + systemErrorText(errno);
            return false;
        }
        if (got == 0) return true;
        window.append(buffer.data(), got);
        if (window.find(needle) != std::string::npos) {
            found = true;
            return true;
        }
        if (window.size() > overlap) window.erase(0, window.size() - overlap);
        offset += got;
    }
}

bool writeNewFile(const std::string& path, const std::string& data, std::string& error) {
    Descriptor file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0777));
    if (file.fd < 0) {
        error = "cannot create " + quoted(path) + ": " + systemErrorText(errno);
        return false;
    }
    return writeAndSync(file.fd, path, data, error);
}

bool replaceFile(const std::string& path, const std::string& data, std::string& error) {
    struct stat old;
    if (lstat(path.c_str(), &old) != 0) {
        error = "cannot replace " + quoted(path) + ": " + systemErrorText(errno);
        return false;
    }
    if (!S_ISREG(old.st_mode)) {
        error = "cannot replace " + quoted(path) + ": not a regular file";
        return false;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = joinHostPath(folder, "." + name + ".kestrune-medium-XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    Descriptor file(mkostemp(buffer.data(), O_CLOEXEC));
    if (file.fd < 0) {
        error = "cannot write beside " + quoted(path) + ": " + systemErrorText(errno);
        return false;
    }
    const std::string temporary = buffer.data();
    // Another user's file stays theirs when root rewrites it; others cannot
    // give a file away, and their new file is theirs.
    const bool ownerKept = geteuid() != 0 || fchown(file.fd, old.st_uid, old.st_gid) == 0;
    if (!ownerKept || fchmod(file.fd, old.st_mode & 07777) != 0 || !writeAndSync(file.fd, temporary, data, error) ||
        rename(temporary.c_str(), path.c_str()) != 0) {
        if (error.empty()) error = "cannot replace " + quoted(path) + ": " + systemErrorText(errno);
        unlink(temporary.c_str());
        return false;
    }
    std::string ignored;
    syncPath(folder, ignored);
    return true;
}

bool appendToFile(const std::string& path, const std::string& data, std::string& error) {
    Descriptor file(open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (file.fd < 0) {
        error = "cannot open " + quoted(path) + " for writing: " + systemErrorText(errno);
        return false;
    }
    return writeAndSync(file.fd, path, data, error);
}

bool syncPath(const std::string& path, std::string& error) {
    Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.fd < 0 || fsync(file.fd) != 0) {
        error = "cannot flush " + quoted(path) + " to the disk: " + systemErrorText(errno);
        return false;
    }
    return true;
}

bool directoryNames(const std::string& path, std::vector<std::string>& names, std::string& error) {
    DIR* directory = opendir(path.c_str());
    if (directory == nullptr) {
        error = "cannot read directory " + quoted(path) + ": " + systemErrorText(errno);
        return false;
    }
    names.clear();
    while (const dirent* entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    }
    closedir(directory);
    std::sort(names.begin(), names.end());
    return true;
}

bool directoryIsEmpty(const std::string& path, bool& empty, std::string& error) {
    std::vector<std::string> names;
    if (!directoryNames(path, names, error)) return false;
    empty = names.empty();
    return true;
}

bool removeTree(const std::string& path) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) return errno == ENOENT;
    if (!S_ISDIR(status.st_mode)) return unlink(path.c_str()) == 0;
    bool removed = true;
    std::vector<std::string> names;
    std::string unreadable;
    if (directoryNames(path, names, unreadable)) {
        for (const std::string& name : names) removed = removeTree(joinHostPath(path, name)) && removed;
    }
    return rmdir(path.c_str()) == 0 && removed;
}
