#include "file_system.h"

#include <windows.h>

const char native_path_separator = '\\';

// Each open folder keeps a handle that does not share deletion, so that the
// folder can be neither renamed nor removed, and so not swapped for a link,
// while names inside it are used by path.
struct Directory {
    HANDLE handle;
    char path[MAX_PATH];
};

// Opened without sharing and with DELETE access: nobody else can open,
// rename or replace it, and it is renamed or removed through this handle.
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

template <typename T>
T* allocate()
{
    return static_cast<T*>(HeapAlloc(GetProcessHeap(), 0, sizeof(T)));
}

void release(void* block)
{
    HeapFree(GetProcessHeap(), 0, block);
}

// `directory`, a separator unless it ends in one, and `name`; false when the
// result does not fit in a path.
bool join_path(const char* directory, const std::string& name, char (&path)[MAX_PATH])
{
    const size_t length = lstrlenA(directory);
    const bool separator = length > 0 && directory[length - 1] != '\\' && directory[length - 1] != '/';
    if (length + (separator ? 1 : 0) + name.size() >= MAX_PATH)
        return false;
    lstrcpyA(path, directory);
    if (separator)
        lstrcatA(path, "\\");
    lstrcatA(path, name.c_str());
    return true;
}

// What stands at `path`, the name itself looked at; ok when nothing does.
// Wine shows a Unix link to a folder here, though not on an opened handle.
FileSystemStatus what_stands_at(const char* path, DWORD& attributes)
{
    attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileSystemStatus::ok
                                                                              : FileSystemStatus::failed;
    }
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? FileSystemStatus::link : FileSystemStatus::in_the_way;
}

// Opens the folder at `path` as it stands, a link itself rather than its
// target (on Windows; Wine follows it, which the caller's check covers).
FileSystemStatus open_folder(const char* path, DWORD flags, Directory*& directory)
{
    const HANDLE handle = CreateFileA(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return FileSystemStatus::failed;
    BY_HANDLE_FILE_INFORMATION information;
    FileSystemStatus status = FileSystemStatus::ok;
    if (!GetFileInformationByHandle(handle, &information))
        status = FileSystemStatus::failed;
    else if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        status = FileSystemStatus::link;
    else if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        status = FileSystemStatus::in_the_way;
    Directory* opened = status == FileSystemStatus::ok ? allocate<Directory>() : nullptr;
    if (opened == nullptr) {
        CloseHandle(handle);
        return status == FileSystemStatus::ok ? FileSystemStatus::failed : status;
    }
    opened->handle = handle;
    lstrcpyA(opened->path, path);
    directory = opened;
    return FileSystemStatus::ok;
}

// Renames the open file, the very file, to `path`, replacing a file there.
bool rename_open_file(HANDLE file, const char* path)
{
    alignas(FILE_RENAME_INFO) unsigned char buffer[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(WCHAR)] = {};
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
    // The code page the ANSI file calls use for names.
    const UINT code_page = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    const int length = MultiByteToWideChar(code_page, 0, path, -1, rename->FileName, MAX_PATH);
    if (length <= 0)
        return false;
    rename->ReplaceIfExists = TRUE;
    rename->FileNameLength = static_cast<DWORD>(length - 1) * sizeof(WCHAR);
    return SetFileInformationByHandle(file, FileRenameInfo, rename, sizeof buffer) != 0;
}

void delete_open_file(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

} // namespace

FileSystemStatus open_destination(const std::string& path, Directory*& directory)
{
    if (path.size() >= MAX_PATH)
        return FileSystemStatus::failed;
    CreateDirectoryA(path.c_str(), nullptr);
    return open_folder(path.c_str(), 0, directory);
}

FileSystemStatus open_subdirectory(const Directory& parent, const std::string& name, Directory*& directory)
{
    char path[MAX_PATH];
    if (!join_path(parent.path, name, path))
        return FileSystemStatus::failed;
    // Creates nothing through a link at the name: the name exists.
    if (!CreateDirectoryA(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return FileSystemStatus::failed;
    DWORD attributes = 0;
    const FileSystemStatus standing = what_stands_at(path, attributes);
    if (standing == FileSystemStatus::link)
        return standing;
    if (standing != FileSystemStatus::in_the_way)
        return FileSystemStatus::failed;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return FileSystemStatus::in_the_way;
    // Looked at again on the handle: a link swapped in since is seen there.
    return open_folder(path, FILE_FLAG_OPEN_REPARSE_POINT, directory);
}

void close_directory(Directory* directory)
{
    CloseHandle(directory->handle);
    release(directory);
}

bool query_free_space(const Directory& directory, uint64_t& free_bytes)
{
    // A share's root needs its trailing backslash; any folder takes one.
    char path[MAX_PATH];
    if (!join_path(directory.path, "", path))
        return false;
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(path, &available, nullptr, nullptr))
        return false;
    free_bytes = available.QuadPart;
    return true;
}

FileSystemStatus create_new_file(const Directory& parent, const std::string& name, OutputFile*& file)
{
    char path[MAX_PATH];
    if (!join_path(parent.path, name, path))
        return FileSystemStatus::failed;
    const HANDLE handle = CreateFileA(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD attributes = 0;
        const FileSystemStatus standing = what_stands_at(path, attributes);
        return standing == FileSystemStatus::ok ? FileSystemStatus::failed : standing;
    }
    file = allocate<OutputFile>();
    if (file == nullptr) {
        delete_open_file(handle);
        CloseHandle(handle);
        return FileSystemStatus::failed;
    }
    file->handle = handle;
    return FileSystemStatus::ok;
}

bool write_output_file(OutputFile* file, const uint8_t* data, size_t length)
{
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(file->handle, data, static_cast<DWORD>(length), &written, nullptr) || written == 0)
            return false;
        data += written;
        length -= written;
    }
    return true;
}

FileSystemStatus commit_output_file(OutputFile* file, const Directory& parent, const std::string&,
                                    const std::string& final_name)
{
    char path[MAX_PATH];
    FileSystemStatus result = join_path(parent.path, final_name, path) ? FileSystemStatus::ok
                                                                       : FileSystemStatus::failed;
    if (result == FileSystemStatus::ok) {
        DWORD attributes = 0;
        const FileSystemStatus standing = what_stands_at(path, attributes);
        if (standing == FileSystemStatus::link || standing == FileSystemStatus::failed ||
            (standing == FileSystemStatus::in_the_way && (attributes & FILE_ATTRIBUTE_DIRECTORY)))
            result = standing;
    }
    if (result == FileSystemStatus::ok && !rename_open_file(file->handle, path))
        result = FileSystemStatus::failed;
    if (result != FileSystemStatus::ok)
        delete_open_file(file->handle);
    CloseHandle(file->handle);
    release(file);
    return result;
}

void discard_output_file(OutputFile* file, const Directory&, const std::string&)
{
    delete_open_file(file->handle);
    CloseHandle(file->handle);
    release(file);
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
