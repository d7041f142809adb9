// The host file operations the tool needs, each reporting failure as one
// line of text ("cannot read X: reason") rather than by exception.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Closes a descriptor on every path out of a function.
struct Descriptor {
    int fd;
    explicit Descriptor(int value) : fd(value) {}
    ~Descriptor();
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

std::string systemErrorText(int error);
std::string joinHostPath(const std::string& directory, const std::string& name);

// The absolute path with links resolved; "" when it does not exist.
std::string resolvedPath(const std::string& path);
// Whether a file system is mounted on the folder `path` (its own or a bind
// mount of part of another), so that it cannot be renamed or replaced.
bool isMountPoint(const std::string& path);

enum class PathKind { missing, file, directory, other, unreachable };
// Follows symbolic links: what a program opening `path` would find.
PathKind pathKind(const std::string& path);

// With `followLink` false, a link at `path` is refused rather than followed.
bool readWholeFile(const std::string& path, std::string& data, std::string& error, bool followLink = true);
// The last `maxBytes` bytes of the file (all of a shorter one) and its size.
bool readFileTail(const std::string& path, size_t maxBytes, std::string& tail, uint64_t& fileSize, std::string& error);
// Whether the file's bytes contain `needle` anywhere, read in chunks so that
// a large file is never held whole.
bool fileContains(const std::string& path, const std::string& needle, bool& found, std::string& error);

// Creates `path` (which must not exist), writes `data` and flushes it to the
// disk, so that a medium renamed into place afterwards is really complete.
bool writeNewFile(const std::string& path, const std::string& data, std::string& error);
// Replaces the content of the existing file `path` in one step: `data` is
// written to a new file beside it, with its mode and (where allowed) owner,
// flushed, and renamed over it. An interruption leaves the old file whole.
bool replaceFile(const std::string& path, const std::string& data, std::string& error);
// Appends to an existing file and flushes it.
bool appendToFile(const std::string& path, const std::string& data, std::string& error);
// Flushes an existing file or directory to the disk.
bool syncPath(const std::string& path, std::string& error);

// The names in the directory `path` but "." and "..", sorted; false with
// `error` when it cannot be read.
bool directoryNames(const std::string& path, std::vector<std::string>& names, std::string& error);
// Whether `path` is a directory without entries; false with `error` when it
// cannot be read.
bool directoryIsEmpty(const std::string& path, bool& empty, std::string& error);
// Removes `path` and everything below it. Symbolic links are removed, never
// followed, so that nothing outside the tree can be touched.
bool removeTree(const std::string& path);
