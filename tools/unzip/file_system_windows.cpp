#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "file_system.h"
#include "file_system_shared.h"

const char nativePathSeparator = '\\';
const char nativeLineEnd[] = "\r\n";

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

struct WorkerLock {
    SRWLOCK lock;
};

struct Worker {
    HANDLE thread;
    WorkerTask task;
};

namespace {

// Positional reads: several threads may read through the one handle at once.
bool readInputFileAt(const void* context, uint64_t offset, uint8_t* buffer, size_t length) {
    const InputFile* file = static_cast<const InputFile*>(context);
    while (length > 0) {
        // On a synchronous handle, OVERLAPPED only carries the position.
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(offset);
        position.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        const DWORD wanted = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
        if (!ReadFile(file->handle, buffer, wanted, &got, &position) || got == 0) return false;
        buffer += got;
        offset += got;
        length -= got;
    }
    return true;
}

// `directory`, a separator unless it ends in one, and `name`; false when the
// result does not fit in a path.
bool joinPath(const char* directory, const char* name, char (&path)[MAX_PATH]) {
    const size_t length = strlen(directory);
    const size_t nameLength = strlen(name);
    const bool separator = length > 0 && directory[length - 1] != '\\' && directory[length - 1] != '/';
    if (length + (separator ? 1 : 0) + nameLength >= MAX_PATH) return false;
    memcpy(path, directory, length);
    if (separator) path[length] = '\\';
    memcpy(path + length + (separator ? 1 : 0), name, nameLength + 1);
    return true;
}

// What stands at `path`, the name itself looked at; ok when nothing does.
// Wine shows a Unix link to a folder here, though not on an opened handle.
FileSystemStatus whatStandsAt(const char* path, DWORD& attributes) {
    attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileSystemStatus::ok
                                                                              : FileSystemStatus::failed;
    }
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? FileSystemStatus::link : FileSystemStatus::inTheWay;
}

// Opens the folder at `path` as it stands, a link itself rather than its
// target (on Windows; Wine follows it, which the caller's check covers).
FileSystemStatus openFolder(const char* path, DWORD flags, Directory*& directory) {
    const HANDLE handle = CreateFileA(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return FileSystemStatus::failed;
    BY_HANDLE_FILE_INFORMATION information;
    FileSystemStatus status = FileSystemStatus::ok;
    if (!GetFileInformationByHandle(handle, &information)) {
        status = FileSystemStatus::failed;
    } else if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        status = FileSystemStatus::link;
    } else if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        status = FileSystemStatus::inTheWay;
    }
    Directory* opened = status == FileSystemStatus::ok ? allocate<Directory>() : nullptr;
    if (opened == nullptr) {
        CloseHandle(handle);
        return status == FileSystemStatus::ok ? FileSystemStatus::failed : status;
    }
    opened->handle = handle;
    memcpy(opened->path, path, strlen(path) + 1);
    directory = opened;
    return FileSystemStatus::ok;
}

// Renames the open file, the very file, to `path`, replacing a file there.
bool renameOpenFile(HANDLE file, const char* path) {
    alignas(FILE_RENAME_INFO) unsigned char buffer[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(WCHAR)] = {};
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
    // The code page the ANSI file calls use for names.
    const UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    const int length = MultiByteToWideChar(codePage, 0, path, -1, rename->FileName, MAX_PATH);
    if (length <= 0) return false;
    rename->ReplaceIfExists = TRUE;
    rename->FileNameLength = static_cast<DWORD>(length - 1) * sizeof(WCHAR);
    return SetFileInformationByHandle(file, FileRenameInfo, rename, sizeof buffer) != 0;
}

void deleteOpenFile(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

DWORD WINAPI runWorkerThread(void* context) {
    runWorkerTask(static_cast<Worker*>(context)->task);
    return 0;
}

}  // namespace

FileSystemStatus openDestination(const char* path, Directory*& directory) {
    if (strlen(path) >= MAX_PATH) return FileSystemStatus::failed;
    CreateDirectoryA(path, nullptr);
    return openFolder(path, 0, directory);
}

FileSystemStatus openSubdirectory(const Directory& parent, const char* name, Directory*& directory) {
    char path[MAX_PATH];
    if (!joinPath(parent.path, name, path)) return FileSystemStatus::failed;
    // Creates nothing through a link at the name: the name exists.
    if (!CreateDirectoryA(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return FileSystemStatus::failed;
    DWORD attributes = 0;
    const FileSystemStatus standing = whatStandsAt(path, attributes);
    if (standing == FileSystemStatus::link) return standing;
    if (standing != FileSystemStatus::inTheWay) return FileSystemStatus::failed;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return FileSystemStatus::inTheWay;
    // Looked at again on the handle: a link swapped in since is seen there.
    return openFolder(path, FILE_FLAG_OPEN_REPARSE_POINT, directory);
}

void closeDirectory(Directory* directory) {
    CloseHandle(directory->handle);
    free(directory);
}

bool queryFreeSpace(const Directory& directory, uint64_t& freeBytes) {
    // A share's root needs its trailing backslash; any folder takes one.
    char path[MAX_PATH];
    if (!joinPath(directory.path, "", path)) return false;
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(path, &available, nullptr, nullptr)) return false;
    freeBytes = available.QuadPart;
    return true;
}

FileSystemStatus createNewFile(const Directory& parent, const char* name, OutputFile*& file) {
    char path[MAX_PATH];
    if (!joinPath(parent.path, name, path)) return FileSystemStatus::failed;
    const HANDLE handle = CreateFileA(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD attributes = 0;
        const FileSystemStatus standing = whatStandsAt(path, attributes);
        return standing == FileSystemStatus::ok ? FileSystemStatus::failed : standing;
    }
    file = allocate<OutputFile>();
    if (file == nullptr) {
        deleteOpenFile(handle);
        CloseHandle(handle);
        return FileSystemStatus::failed;
    }
    file->handle = handle;
    return FileSystemStatus::ok;
}

bool writeOutputFile(OutputFile* file, const uint8_t* data, size_t length) {
    while (length > 0) {
        DWORD written = 0;
        const DWORD wanted = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
        if (!WriteFile(file->handle, data, wanted, &written, nullptr) || written == 0) return false;
        data += written;
        length -= written;
    }
    return true;
}

FileSystemStatus commitOutputFile(OutputFile* file, const Directory& parent, const char*, const char* finalName) {
    char path[MAX_PATH];
    FileSystemStatus result = joinPath(parent.path, finalName, path) ? FileSystemStatus::ok : FileSystemStatus::failed;
    if (result == FileSystemStatus::ok) {
        DWORD attributes = 0;
        const FileSystemStatus standing = whatStandsAt(path, attributes);
        if (standing == FileSystemStatus::link || standing == FileSystemStatus::failed ||
            (standing == FileSystemStatus::inTheWay && (attributes & FILE_ATTRIBUTE_DIRECTORY))) {
            result = standing;
        }
    }
    if (result == FileSystemStatus::ok && !renameOpenFile(file->handle, path)) result = FileSystemStatus::failed;
    if (result != FileSystemStatus::ok) deleteOpenFile(file->handle);
    CloseHandle(file->handle);
    free(file);
    return result;
}

void discardOutputFile(OutputFile* file, const Directory&, const char*) {
    deleteOpenFile(file->handle);
    CloseHandle(file->handle);
    free(file);
}

InputFile* openInputFile(const char* path) {
    const HANDLE handle =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size;
    InputFile* file = GetFileSizeEx(handle, &size)
                          ? inputFileHolding<InputFile>(handle, static_cast<uint64_t>(size.QuadPart))
                          : nullptr;
    if (file == nullptr) CloseHandle(handle);
    return file;
}

ArchiveInput inputFileArchive(const InputFile* file) { return ArchiveInput{file->size, readInputFileAt, file}; }

void closeInputFile(InputFile* file) {
    CloseHandle(file->handle);
    free(file);
}

void writeErrorText(const char* text, size_t length) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    while (length > 0 && error != nullptr && error != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        const DWORD wanted = length > 0x10000u ? 0x10000u : static_cast<DWORD>(length);
        if (!WriteFile(error, text, wanted, &written, nullptr) || written == 0) return;
        text += written;
        length -= written;
    }
}

WorkerLock* createWorkerLock() {
    WorkerLock* lock = allocate<WorkerLock>();
    if (lock != nullptr) InitializeSRWLock(&lock->lock);
    return lock;
}

void destroyWorkerLock(WorkerLock* lock) { free(lock); }

void lockWorkers(WorkerLock* lock) { AcquireSRWLockExclusive(&lock->lock); }

void unlockWorkers(WorkerLock* lock) { ReleaseSRWLockExclusive(&lock->lock); }

Worker* startWorker(void (*run)(void* context), void* context) {
    return startWorkerWith<Worker>(WorkerTask{run, context}, [](Worker& worker) {
        worker.thread = CreateThread(nullptr, 0, runWorkerThread, &worker, 0, nullptr);
        return worker.thread != nullptr;
    });
}

void finishWorker(Worker* worker) {
    WaitForSingleObject(worker->thread, INFINITE);
    CloseHandle(worker->thread);
    free(worker);
}

unsigned processorCount() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 1;
    unsigned count = 0;
    for (; process != 0; process &= process - 1) ++count;
    return count > 0 ? count : 1;
}
