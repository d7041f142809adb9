#include "file_system.h"

#include "file_system_shared.h"
#include "zip_reader_containers.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include "entry_name.h"
#include "unicode_text.h"

const char nativePathSeparator = '/';
const char nativeLineEnd[] = "\n";

struct Directory {
    int descriptor;
    bool made;  // by mkdirat in this run
};

struct OutputFile {
    int descriptor;
    dev_t device;  // which file it is, to find the same one again by name
    ino_t inode;
};

struct InputFile {
    int descriptor;
    uint64_t size;
};

struct WorkerLock {
    pthread_mutex_t mutex;
};

struct Worker {
    pthread_t thread;
    WorkerTask task;
};

namespace {

// A name component as this file system spells it: UTF-8, terminated.
struct HostName {
    char text[longestNameComponent * 3 + 1];
    bool fits;
};

HostName hostName(const NativeName& name) {
    HostName host;
    host.fits = name.length <= longestNameComponent;
    host.text[host.fits ? encodeUtf8(name.text, name.length, host.text) : 0] = 0;
    return host;
}

// Sets the modification time of the open file or folder `descriptor`.
void setTimeOf(int descriptor, const EntryTime& time) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {0, 0}};
    if (time.kind == EntryTime::Kind::utc) {
        times[1].tv_sec = static_cast<time_t>(time.unixTime);
    } else if (time.kind == EntryTime::Kind::local) {
        struct tm local {};
        local.tm_year = time.local.year - 1900;
        local.tm_mon = time.local.month - 1;
        local.tm_mday = time.local.day;
        local.tm_hour = time.local.hour;
        local.tm_min = time.local.minute;
        local.tm_sec = time.local.second;
        local.tm_isdst = -1;  // whatever the zone's rules say for that day
        times[1].tv_sec = mktime(&local);
        if (times[1].tv_sec == -1) return;
    } else {
        return;
    }
    futimens(descriptor, times);
}

// What stands at `name` in `parent`, the name itself looked at (a link is
// not followed); ok when nothing does.
FileSystemStatus whatStandsAt(const Directory& parent, const char* name, struct stat& status) {
    if (fstatat(parent.descriptor, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? FileSystemStatus::ok : FileSystemStatus::failed;
    }
    return S_ISLNK(status.st_mode) ? FileSystemStatus::link : FileSystemStatus::inTheWay;
}

// Why a folder could not be opened: a link, something else, or the system.
FileSystemStatus whyNotADirectory(const Directory& parent, const char* name) {
    struct stat status;
    const FileSystemStatus standing = whatStandsAt(parent, name, status);
    if (standing == FileSystemStatus::inTheWay && S_ISDIR(status.st_mode)) return FileSystemStatus::failed;
    return standing == FileSystemStatus::ok ? FileSystemStatus::failed : standing;
}

// The directory object that owns `descriptor` from here on; closes it when
// there is no memory for one.
Directory* directoryOwning(int descriptor, bool made) {
    Directory* directory = allocate<Directory>();
    if (directory == nullptr) {
        close(descriptor);
        return nullptr;
    }
    *directory = Directory{descriptor, made};
    return directory;
}

// The output file object that owns `descriptor` from here on; nullptr (the
// descriptor still the caller's) when there is no memory for one.
OutputFile* outputFileOwning(int descriptor, const struct stat& status) {
    OutputFile* file = allocate<OutputFile>();
    if (file != nullptr) *file = OutputFile{descriptor, status.st_dev, status.st_ino};
    return file;
}

// Removes `name` only while it is still the file that was written.
void removeIfWritten(const OutputFile& file, const Directory& parent, const char* name) {
    struct stat status;
    if (fstatat(parent.descriptor, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && status.st_dev == file.device &&
        status.st_ino == file.inode) {
        unlinkat(parent.descriptor, name, 0);
    }
}

void* runWorkerThread(void* context) {
    runWorkerTask(static_cast<Worker*>(context)->task);
    return nullptr;
}

}  // namespace

FileSystemStatus openDestination(const char* path, Directory*& directory) {
    if (mkdir(path, 0777) != 0 && errno != EEXIST) return FileSystemStatus::failed;
    const int descriptor = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return errno == ENOTDIR ? FileSystemStatus::inTheWay : FileSystemStatus::failed;
    directory = directoryOwning(descriptor, false);
    return directory == nullptr ? FileSystemStatus::failed : FileSystemStatus::ok;
}

size_t decodeOemName(const char* bytes, size_t length, char16_t* out) { return decodeCodePage437(bytes, length, out); }

FileSystemStatus openSubdirectory(const Directory& parent, const NativeName& native, Directory*& directory) {
    const HostName name = hostName(native);
    if (!name.fits) return FileSystemStatus::failed;
    // mkdirat creates nothing through a link standing at the name: it fails
    // with EEXIST, and the open below refuses the link.
    const bool made = mkdirat(parent.descriptor, name.text, 0777) == 0;
    if (!made && errno != EEXIST) return FileSystemStatus::failed;
    const int descriptor = openat(parent.descriptor, name.text, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) return whyNotADirectory(parent, name.text);
    // Between mkdirat and openat another folder could take the name; a file
    // created at its final name in it is still created new (O_EXCL), and
    // anything standing there sends the entry to a part file as before.
    directory = directoryOwning(descriptor, made);
    return directory == nullptr ? FileSystemStatus::failed : FileSystemStatus::ok;
}

void setDirectoryTime(const Directory& directory, const EntryTime& time) { setTimeOf(directory.descriptor, time); }

void closeDirectory(Directory* directory) {
    close(directory->descriptor);
    free(directory);
}

bool madeThisRun(const Directory& directory) { return directory.made; }

bool queryFreeSpace(const Directory& directory, uint64_t& freeBytes) {
    struct statvfs volume;
    if (fstatvfs(directory.descriptor, &volume) != 0) return false;
    // What an unprivileged writer may use, as df's "Avail" column.
    freeBytes = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
    return true;
}

FileSystemStatus createNewFile(const Directory& parent, const NativeName& native, OutputFile*& file) {
    file = nullptr;
    const HostName name = hostName(native);
    if (!name.fits) return FileSystemStatus::failed;
    const int descriptor =
        openat(parent.descriptor, name.text, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    struct stat status;
    if (descriptor < 0) {
        const FileSystemStatus standing =
            errno == EEXIST ? whatStandsAt(parent, name.text, status) : FileSystemStatus::failed;
        return standing == FileSystemStatus::ok ? FileSystemStatus::failed : standing;
    }
    if (fstat(descriptor, &status) == 0) file = outputFileOwning(descriptor, status);
    if (file == nullptr) {
        close(descriptor);
        unlinkat(parent.descriptor, name.text, 0);
        return FileSystemStatus::failed;
    }
    return FileSystemStatus::ok;
}

bool writeOutputFile(OutputFile* file, const uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t written = write(file->descriptor, data, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

FileSystemStatus commitOutputFile(OutputFile* file, const Directory& parent, const NativeName& native,
                                  const NativeName& nativeFinal, const EntryTime& time) {
    const HostName part = hostName(native);
    const HostName target = hostName(nativeFinal);
    const char* name = part.text;
    const char* finalName = target.text;
    setTimeOf(file->descriptor, time);
    // close reports late write errors (a full disk over NFS, say).
    FileSystemStatus result = close(file->descriptor) == 0 ? FileSystemStatus::ok : FileSystemStatus::failed;
    struct stat status;
    if (result == FileSystemStatus::ok) {
        // The name must still hold the very file written, or renaming it
        // would put whatever was planted there in the entry's place.
        if (fstatat(parent.descriptor, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || status.st_dev != file->device ||
            status.st_ino != file->inode) {
            result = FileSystemStatus::failed;
        }
    }
    if (result == FileSystemStatus::ok) {
        const FileSystemStatus standing = whatStandsAt(parent, finalName, status);
        if (standing == FileSystemStatus::link || standing == FileSystemStatus::failed ||
            (standing == FileSystemStatus::inTheWay && !S_ISREG(status.st_mode))) {
            result = standing;
        }
    }
    if (result == FileSystemStatus::ok && renameat(parent.descriptor, name, parent.descriptor, finalName) != 0) {
        result = FileSystemStatus::failed;
    }
    if (result != FileSystemStatus::ok) removeIfWritten(*file, parent, name);
    free(file);
    return result;
}

FileSystemStatus finishNewFile(OutputFile* file, const Directory& parent, const NativeName& name,
                               const EntryTime& time) {
    setTimeOf(file->descriptor, time);
    // close reports late write errors (a full disk over NFS, say).
    const FileSystemStatus result = close(file->descriptor) == 0 ? FileSystemStatus::ok : FileSystemStatus::failed;
    if (result != FileSystemStatus::ok) removeIfWritten(*file, parent, hostName(name).text);
    free(file);
    return result;
}

void discardOutputFile(OutputFile* file, const Directory& parent, const NativeName& name) {
    close(file->descriptor);
    removeIfWritten(*file, parent, hostName(name).text);
    free(file);
}

InputFile* openInputFile(const char* path) {
    const int descriptor = open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return nullptr;
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(descriptor);
        return nullptr;
    }
    InputFile* file = inputFileHolding<InputFile>(descriptor, static_cast<uint64_t>(status.st_size));
    if (file == nullptr) close(descriptor);
    return file;
}

ArchiveInput inputFileArchive(const InputFile* file) { return descriptorArchiveInput(file->descriptor, file->size); }

void closeInputFile(InputFile* file) {
    close(file->descriptor);
    free(file);
}

void writeErrorText(const char* text, size_t length) {
    while (length > 0) {
        const ssize_t written = write(2, text, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        length -= static_cast<size_t>(written);
    }
}

WorkerLock* createWorkerLock() {
    WorkerLock* lock = allocate<WorkerLock>();
    if (lock != nullptr && pthread_mutex_init(&lock->mutex, nullptr) != 0) {
        free(lock);
        return nullptr;
    }
    return lock;
}

void destroyWorkerLock(WorkerLock* lock) {
    pthread_mutex_destroy(&lock->mutex);
    free(lock);
}

void lockWorkers(WorkerLock* lock) { pthread_mutex_lock(&lock->mutex); }

void unlockWorkers(WorkerLock* lock) { pthread_mutex_unlock(&lock->mutex); }

Worker* startWorker(void (*run)(void* context), void* context) {
    return startWorkerWith<Worker>(WorkerTask{run, context}, [](Worker& worker) {
        return pthread_create(&worker.thread, nullptr, runWorkerThread, &worker) == 0;
    });
}

void finishWorker(Worker* worker) {
    pthread_join(worker->thread, nullptr);
    free(worker);
}

unsigned processorCount() {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<unsigned>(count) : 1;
}
