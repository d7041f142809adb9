#include "file_system.h"

#include <windows.h>

const char native_path_separator = '\\';

struct OutputFile {
    HANDLE handle;
};

struct InputFile {
    HANDLE handle;
    uint64_t size;
};

namespace {

bool read_input_file_at(const void* context, uint64_t offset, uint8_t* buffer, size_t length)
{
    const InputFile* file = static_cast<const InputFile*>(context);
    while (length > 0) {
        // On a synchronous handle, OVERLAPPED only carries the position.
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(offset);
        position.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(file->handle, buffer, static_cast<DWORD>(length), &got, &position) || got == 0)
            return false;
        buffer += got;
        offset += got;
        length -= got;
    }
    return true;
}

} // namespace

bool make_directory(const std::string& path)
{
    if (CreateDirectoryA(path.c_str(), nullptr))
        return true;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

OutputFile* create_output_file(const std::string& path)
{
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    return new OutputFile{handle};
}

bool write_output_file(OutputFile* file, const uint8_t* data, size_t length)
{
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(file->handle, data, static_cast<DWORD>(length), &written, nullptr) ||
            written == 0)
            return false;
        data += written;
        length -= written;
    }
    return true;
}

bool close_output_file(OutputFile* file)
{
    const bool closed = CloseHandle(file->handle) != 0;
    delete file;
    return closed;
}

bool replace_file(const std::string& from, const std::string& to)
{
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void remove_file(const std::string& path)
{
    DeleteFileA(path.c_str());
}

InputFile* open_input_file(const std::string& path)
{
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size)) {
        CloseHandle(handle);
        return nullptr;
    }
    return new InputFile{handle, static_cast<uint64_t>(size.QuadPart)};
}

ArchiveInput input_file_archive(const InputFile* file)
{
    return ArchiveInput{file->size, read_input_file_at, file};
}

void close_input_file(InputFile* file)
{
    CloseHandle(file->handle);
    delete file;
}
