#include "file_system.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char native_path_separator = '/';

struct OutputFile {
    int descriptor;
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

} // namespace

bool make_directory(const std::string& path)
{
    if (mkdir(path.c_str(), 0777) == 0)
        return true;
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

OutputFile* create_output_file(const std::string& path)
{
    // O_NOFOLLOW: never write through a symbolic link left at the temporary name.
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
    if (descriptor < 0)
        return nullptr;
    return new OutputFile{descriptor};
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

bool close_output_file(OutputFile* file)
{
    const bool closed = close(file->descriptor) == 0;
    delete file;
    return closed;
}

bool replace_file(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void remove_file(const std::string& path)
{
    unlink(path.c_str());
}

InputFile* open_input_file(const std::string& path)
{
    const int descriptor = open(path.c_str(), O_RDONLY);
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
