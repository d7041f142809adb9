#include "file_system.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

const char native_path_separator = '/';

struct Directory {
    int descriptor;
};

struct OutputFile {
    int descriptor;
    dev_t device; // which file it is, to find the same one again by name
    ino_t inode;
};

struct InputFile {
    int descriptor;
    uint64_t size;
};

namespace {

bool read_input_file_at(const void* context, uint64_t offset, uint8_t* buffer, size_t length)
{
    const InputFile* file = static_cast<const InputFile*>(context);
    while (length > 0) {
        const ssize_t got = pread(file->descriptor, buffer, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        buffer += got;
        offset += static_cast<uint64_t>(got);
        length -= static_cast<size_t>(got);
    }
    return true;
}

// What stands at `name` in `parent`, the name itself looked at (a link is
// not followed); ok when nothing does.
FileSystemStatus what_stands_at(const Directory& parent, const std::string& name, struct stat& status)
{
    if (fstatat(parent.descriptor, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? FileSystemStatus::ok : FileSystemStatus::failed;
    return S_ISLNK(status.st_mode) ? FileSystemStatus::link : FileSystemStatus::in_the_way;
}

// Why a folder could not be opened: a link, something else, or the system.
FileSystemStatus why_not_a_directory(const Directory& parent, const std::string& name)
{
    struct stat status;
    const FileSystemStatus standing = what_stands_at(parent, name, status);
    if (standing == FileSystemStatus::in_the_way && S_ISDIR(status.st_mode))
        return FileSystemStatus::failed;
    return standing == FileSystemStatus::ok ? FileSystemStatus::failed : standing;
}

// The objects that own a descriptor from here on.
Directory* directory_owning(int descriptor)
{
    return new Directory{descriptor};
}

OutputFile* output_file_owning(int descriptor, const struct stat& status)
{
    return new OutputFile{descriptor, status.st_dev, status.st_ino};
}

// Removes `name` only while it is still the file that was written.
void remove_if_written(const OutputFile& file, const Directory& parent, const std::string& name)
{
    struct stat status;
    if (fstatat(parent.descriptor, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        status.st_dev == file.device && status.st_ino == file.inode)
        unlinkat(parent.descriptor, name.c_str(), 0);
}

} // namespace

FileSystemStatus open_destination(const std::string& path, Directory*& directory)
{
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        return FileSystemStatus::failed;
    const int descriptor = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return errno == ENOTDIR ? FileSystemStatus::in_the_way : FileSystemStatus::failed;
    directory = directory_owning(descriptor);
    return FileSystemStatus::ok;
}

FileSystemStatus open_subdirectory(const Directory& parent, const std::string& name, Directory*& directory)
{
    // mkdirat creates nothing through a link standing at the name: it fails
    // with EEXIST, and the open below refuses the link.
    if (mkdirat(parent.descriptor, name.c_str(), 0777) != 0 && errno != EEXIST)
        return FileSystemStatus::failed;
    const int descriptor =
        openat(parent.descriptor, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return why_not_a_directory(parent, name);
    directory = directory_owning(descriptor);
    return FileSystemStatus::ok;
}

void close_directory(Directory* directory)
{
    close(directory->descriptor);
    delete directory;
}

bool query_free_space(const Directory& directory, uint64_t& free_bytes)
{
    struct statvfs volume;
    if (fstatvfs(directory.descriptor, &volume) != 0)
        return false;
    // What an unprivileged writer may use, as df's "Avail" column.
    free_bytes = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
    return true;
}

FileSystemStatus create_new_file(const Directory& parent, const std::string& name, OutputFile*& file)
{
    const int descriptor = openat(parent.descriptor, name.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        struct stat status;
        const FileSystemStatus standing =
            errno == EEXIST ? what_stands_at(parent, name, status) : FileSystemStatus::failed;
        return standing == FileSystemStatus::ok ? FileSystemStatus::failed : standing;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0) {
        close(descriptor);
        unlinkat(parent.descriptor, name.c_str(), 0);
        return FileSystemStatus::failed;
    }
    file = output_file_owning(descriptor, status);
    return FileSystemStatus::ok;
}

bool write_output_file(OutputFile* file, const uint8_t* data, size_t length)
{
    while (length > 0) {
        const ssize_t written = write(file->descriptor, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

FileSystemStatus commit_output_file(OutputFile* file, const Directory& parent, const std::string& name,
                                    const std::string& final_name)
{
    // close reports late write errors (a full disk over NFS, say).
    FileSystemStatus result = close(file->descriptor) == 0 ? FileSystemStatus::ok : FileSystemStatus::failed;
    struct stat status;
    if (result == FileSystemStatus::ok) {
        // The name must still hold the very file written, or renaming it
        // would put whatever was planted there in the entry's place.
        if (fstatat(parent.descriptor, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            status.st_dev != file->device || status.st_ino != file->inode)
            result = FileSystemStatus::failed;
    }
    if (result == FileSystemStatus::ok) {
        const FileSystemStatus standing = what_stands_at(parent, final_name, status);
        if (standing == FileSystemStatus::link || standing == FileSystemStatus::failed ||
            (standing == FileSystemStatus::in_the_way && !S_ISREG(status.st_mode)))
            result = standing;
    }
    if (result == FileSystemStatus::ok &&
        renameat(parent.descriptor, name.c_str(), parent.descriptor, final_name.c_str()) != 0)
        result = FileSystemStatus::failed;
    if (result != FileSystemStatus::ok)
        remove_if_written(*file, parent, name);
    delete file;
    return result;
}

void discard_output_file(OutputFile* file, const Directory& parent, const std::string& name)
{
    close(file->descriptor);
    remove_if_written(*file, parent, name);
    delete file;
}

InputFile* open_input_file(const std::string& path)
{
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(descriptor);
        return nullptr;
    }
    return new InputFile{descriptor, static_cast<uint64_t>(status.st_size)};
}

ArchiveInput input_file_archive(const InputFile* file)
{
    return ArchiveInput{file->size, read_input_file_at, file};
}

void close_input_file(InputFile* file)
{
    close(file->descriptor);
    delete file;
}
