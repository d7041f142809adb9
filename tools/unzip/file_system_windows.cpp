#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <winternl.h>

#include "entry_name.h"
#include "file_system.h"
#include "file_system_shared.h"

const char nativePathSeparator = '\\';
const char nativeLineEnd[] = "\r\n";

// Each open folder keeps a handle that every name inside it is opened
// relative to, and the path the system gives that handle (null when it
// cannot say), which what is opened inside must extend by its own name.
// Below the destination it does not share deletion: the folder can be
// neither renamed nor removed while it is held.
struct Directory {
    HANDLE handle;
    char16_t* finalPath;
    size_t finalLength;
    bool made;  // created by the open that gave `handle`
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

// The native calls that open and rename by a name relative to a directory
// handle, which kernel32 does not offer; looked up in ntdll when the
// destination is opened, before any worker starts.
using OpenRelativeCall = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, LARGE_INTEGER*, ULONG,
                                      ULONG, ULONG, ULONG, void*, ULONG);
using InformationCall = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, ULONG);

struct NativeCalls {
    OpenRelativeCall openRelative;
    InformationCall setInformation;
    InformationCall queryVolume;
};
NativeCalls native;

constexpr ULONG openExisting = 1;                             // FILE_OPEN
constexpr ULONG createNew = 2;                                // FILE_CREATE
constexpr ULONG openOrCreate = 3;                             // FILE_OPEN_IF
constexpr ULONG directoryFile = 0x00000001;                   // FILE_DIRECTORY_FILE
constexpr ULONG synchronous = 0x00000020;                     // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG nonDirectoryFile = 0x00000040;                // FILE_NON_DIRECTORY_FILE
constexpr ULONG linkItself = 0x00200000;                      // FILE_OPEN_REPARSE_POINT
constexpr ULONG caseInsensitive = 0x00000040;                 // OBJ_CASE_INSENSITIVE
constexpr ULONG renameInformation = 10;                       // FileRenameInformation
constexpr ULONG fullSizeInformation = 7;                      // FileFsFullSizeInformation
constexpr ULONG_PTR fileCreated = 2;                          // FILE_CREATED
constexpr LONG noSuchFile = static_cast<LONG>(0xc000000f);    // STATUS_NO_SUCH_FILE
constexpr LONG nameNotFound = static_cast<LONG>(0xc0000034);  // STATUS_OBJECT_NAME_NOT_FOUND

// FILE_FS_FULL_SIZE_INFORMATION.
struct VolumeSize {
    LARGE_INTEGER total;
    LARGE_INTEGER availableToCaller;
    LARGE_INTEGER available;
    ULONG sectorsPerUnit;
    ULONG bytesPerSector;
};

template <typename Call>
Call lookUp(HMODULE module, const char* name) {
    return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

bool lookUpNativeCalls() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr) return false;
    native = NativeCalls{lookUp<OpenRelativeCall>(ntdll, "NtCreateFile"),
                         lookUp<InformationCall>(ntdll, "NtSetInformationFile"),
                         lookUp<InformationCall>(ntdll, "NtQueryVolumeInformationFile")};
    return native.openRelative != nullptr && native.setInformation != nullptr && native.queryVolume != nullptr;
}

// `name` inside the folder `parent`, as the native calls take it.
struct RelativeName {
    UNICODE_STRING text;
    OBJECT_ATTRIBUTES attributes;

    RelativeName(HANDLE parent, const NativeName& name) {
        text.Buffer = reinterpret_cast<wchar_t*>(const_cast<char16_t*>(name.text));
        text.Length = static_cast<USHORT>(name.length * sizeof(wchar_t));
        text.MaximumLength = text.Length;
        InitializeObjectAttributes(&attributes, &text, caseInsensitive, parent, nullptr);
    }
};

// Opens `name` inside `parent`, never a path; null on failure, with the
// system's status. `created` tells whether the open made it.
HANDLE openRelative(HANDLE parent, const NativeName& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                    ULONG options, LONG& result, bool* created = nullptr) {
    RelativeName relative(parent, name);
    IO_STATUS_BLOCK status;
    status.Information = 0;
    HANDLE handle = nullptr;
    result = native.openRelative(&handle, access | SYNCHRONIZE, &relative.attributes, &status, nullptr,
                                 FILE_ATTRIBUTE_NORMAL, share, disposition, options | synchronous, nullptr, 0);
    if (created != nullptr) *created = result >= 0 && status.Information == fileCreated;
    return result >= 0 ? handle : nullptr;
}

// The path the system gives the open `handle`, links on the way resolved,
// into new memory; null when it cannot say.
char16_t* finalPathOf(HANDLE handle, size_t& length) {
    const DWORD needed = GetFinalPathNameByHandleW(handle, nullptr, 0, 0);
    char16_t* path = needed > 0 ? static_cast<char16_t*>(malloc(needed * sizeof(char16_t))) : nullptr;
    const DWORD got =
        path == nullptr ? 0 : GetFinalPathNameByHandleW(handle, reinterpret_cast<LPWSTR>(path), needed, 0);
    if (got == 0 || got >= needed) {
        free(path);
        return nullptr;
    }
    length = got;
    return path;
}

// What `handle`, opened by `name` inside `parent` without following a link,
// is: a link (on Windows the handle shows it; Wine follows the link, and
// the handle's path then lies elsewhere), a folder, or something else.
// `finalPath` receives the handle's path when a folder is wanted.
FileSystemStatus whatWasOpened(HANDLE handle, const Directory& parent, const NativeName& name, ULONG& attributes,
                               char16_t** finalPath, size_t* finalLength) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information)) return FileSystemStatus::failed;
    attributes = information.dwFileAttributes;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileSystemStatus::link;
    size_t length = 0;
    char16_t* path = finalPathOf(handle, length);
    const bool elsewhere = path != nullptr && parent.finalPath != nullptr &&
                           !standsInPlace(parent.finalPath, parent.finalLength, name.text, name.length, path, length);
    if (finalPath != nullptr && !elsewhere) {
        *finalPath = path;
        *finalLength = length;
    } else {
        free(path);
    }
    return elsewhere ? FileSystemStatus::link : FileSystemStatus::ok;
}

// What stands at `name` in `parent`, the name itself looked at; ok when
// nothing does.
FileSystemStatus whatStandsAt(const Directory& parent, const NativeName& name, ULONG& attributes) {
    LONG result = 0;
    const HANDLE handle =
        openRelative(parent.handle, name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     openExisting, linkItself, result);
    if (handle == nullptr) {
        if (result == nameNotFound) return FileSystemStatus::ok;
        // Wine's answer for a link whose target is missing.
        return result == noSuchFile ? FileSystemStatus::link : FileSystemStatus::failed;
    }
    FileSystemStatus status = whatWasOpened(handle, parent, name, attributes, nullptr, nullptr);
    CloseHandle(handle);
    return status == FileSystemStatus::ok ? FileSystemStatus::inTheWay : status;
}

// Why `name` could not be made or opened: what stands there, or the system.
FileSystemStatus whyNot(const Directory& parent, const NativeName& name) {
    ULONG attributes = 0;
    const FileSystemStatus standing = whatStandsAt(parent, name, attributes);
    return standing == FileSystemStatus::ok ? FileSystemStatus::failed : standing;
}

// The open folder as a Directory, unless it is a link or no folder at all
// (then it is closed). `parent` is null for the destination.
FileSystemStatus holdFolder(HANDLE handle, const Directory* parent, const NativeName& name, bool made,
                            Directory*& directory) {
    ULONG attributes = 0;
    char16_t* finalPath = nullptr;
    size_t finalLength = 0;
    const Directory none{nullptr, nullptr, 0, false};
    FileSystemStatus status =
        whatWasOpened(handle, parent != nullptr ? *parent : none, name, attributes, &finalPath, &finalLength);
    if (status == FileSystemStatus::ok && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) status = FileSystemStatus::inTheWay;
    Directory* opened = status == FileSystemStatus::ok ? allocate<Directory>() : nullptr;
    if (opened == nullptr) {
        CloseHandle(handle);
        free(finalPath);
        return status == FileSystemStatus::ok ? FileSystemStatus::failed : status;
    }
    *opened = Directory{handle, finalPath, finalLength, made};
    directory = opened;
    return FileSystemStatus::ok;
}

// The time `time` says, as the file system keeps times; false for none.
bool fileTimeOf(const EntryTime& time, FILETIME& fileTime) {
    if (time.kind == EntryTime::Kind::local) {
        const CalendarTime& at = time.local;
        const SYSTEMTIME local{at.year, at.month, 0, at.day, at.hour, at.minute, at.second, 0};
        SYSTEMTIME utc;
        // The zone's rules for that day, daylight saving time included.
        return TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) && SystemTimeToFileTime(&utc, &fileTime);
    }
    if (time.kind != EntryTime::Kind::utc) return false;
    // 100-nanosecond steps since 1601.
    const uint64_t steps = static_cast<uint64_t>(time.unixTime + 11644473600LL) * 10000000u;
    fileTime.dwLowDateTime = static_cast<DWORD>(steps);
    fileTime.dwHighDateTime = static_cast<DWORD>(steps >> 32);
    return true;
}

void setTimeOf(HANDLE handle, const EntryTime& time) {
    FILETIME fileTime;
    if (fileTimeOf(time, fileTime)) SetFileTime(handle, nullptr, nullptr, &fileTime);
}

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

// Renames the open file, the very file, to `name` in the folder `parent`,
// replacing a file there.
bool renameOpenFile(HANDLE file, HANDLE parent, const NativeName& name) {
    alignas(FILE_RENAME_INFO) unsigned char buffer[sizeof(FILE_RENAME_INFO) + longestNameComponent * sizeof(WCHAR)];
    if (name.length > longestNameComponent) return false;
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = parent;
    rename->FileNameLength = static_cast<DWORD>(name.length) * DWORD{sizeof(WCHAR)};
    memcpy(rename->FileName, name.text, rename->FileNameLength);
    IO_STATUS_BLOCK status;
    return native.setInformation(file, &status, rename, sizeof buffer, renameInformation) >= 0;
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

size_t decodeOemName(const char* bytes, size_t length, char16_t* out) {
    const int count = static_cast<int>(length);
    const int units =
        MultiByteToWideChar(CP_OEMCP, MB_ERR_INVALID_CHARS, bytes, count, reinterpret_cast<LPWSTR>(out), count);
    return units > 0 ? static_cast<size_t>(units) : undecodableName;
}

FileSystemStatus openDestination(const char* path, Directory*& directory) {
    if (!lookUpNativeCalls()) return FileSystemStatus::failed;
    CreateDirectoryA(path, nullptr);
    // Held without sharing deletion, unless another handle, the launcher's
    // that made it, already has the right to delete it (that one keeps
    // everyone else from renaming it then).
    const DWORD access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    HANDLE handle = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
        handle = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    }
    if (handle == INVALID_HANDLE_VALUE) return FileSystemStatus::failed;
    return holdFolder(handle, nullptr, NativeName{u"", 0}, false, directory);
}

FileSystemStatus openSubdirectory(const Directory& parent, const NativeName& name, Directory*& directory) {
    LONG result = 0;
    bool made = false;
    const HANDLE handle =
        openRelative(parent.handle, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, openOrCreate, directoryFile | linkItself, result, &made);
    if (handle == nullptr) return whyNot(parent, name);
    return holdFolder(handle, &parent, name, made, directory);
}

void setDirectoryTime(const Directory& directory, const EntryTime& time) {
    // The folder itself again (an empty name), with the right to change its
    // times, which it was not opened with.
    LONG result = 0;
    const HANDLE handle = openRelative(directory.handle, NativeName{u"", 0}, FILE_WRITE_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, openExisting, directoryFile, result);
    if (handle == nullptr) return;
    setTimeOf(handle, time);
    CloseHandle(handle);
}

bool madeThisRun(const Directory& directory) { return directory.made; }

void closeDirectory(Directory* directory) {
    CloseHandle(directory->handle);
    free(directory->finalPath);
    free(directory);
}

bool queryFreeSpace(const Directory& directory, uint64_t& freeBytes) {
    VolumeSize size;
    IO_STATUS_BLOCK status;
    if (native.queryVolume(directory.handle, &status, &size, sizeof size, fullSizeInformation) < 0) return false;
    freeBytes = static_cast<uint64_t>(size.availableToCaller.QuadPart) * size.sectorsPerUnit * size.bytesPerSector;
    return true;
}

FileSystemStatus createNewFile(const Directory& parent, const NativeName& name, OutputFile*& file) {
    LONG result = 0;
    const HANDLE handle =
        openRelative(parent.handle, name, GENERIC_WRITE | DELETE, 0, createNew, nonDirectoryFile | linkItself, result);
    if (handle == nullptr) return whyNot(parent, name);
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

FileSystemStatus commitOutputFile(OutputFile* file, const Directory& parent, const NativeName&,
                                  const NativeName& finalName, const EntryTime& time) {
    setTimeOf(file->handle, time);
    ULONG attributes = 0;
    FileSystemStatus result = whatStandsAt(parent, finalName, attributes);
    if (result == FileSystemStatus::inTheWay && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) result = FileSystemStatus::ok;
    if (result == FileSystemStatus::ok && !renameOpenFile(file->handle, parent.handle, finalName)) {
        result = FileSystemStatus::failed;
    }
    if (result != FileSystemStatus::ok) deleteOpenFile(file->handle);
    CloseHandle(file->handle);
    free(file);
    return result;
}

FileSystemStatus finishNewFile(OutputFile* file, const Directory&, const NativeName&, const EntryTime& time) {
    setTimeOf(file->handle, time);
    CloseHandle(file->handle);
    free(file);
    return FileSystemStatus::ok;
}

void discardOutputFile(OutputFile* file, const Directory&, const NativeName&) {
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
