// What extraction needs of the platform: a few file operations, the error
// stream and threads. One implementation per platform: file_system_windows.cpp
// (native calls relative to directory handles) and file_system_posix.cpp.
//
// Below the destination nothing is ever reached through a link or by a path:
// each folder and file is created or opened by its own name relative to the
// folder it stands in, held open, without following a link (a junction or a
// directory symlink on Windows, a symlink on POSIX), so that swapping a
// folder or a link on the way cannot send anything elsewhere. Names are
// single components in UTF-16, as Windows spells them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "entry_time.h"
#include "zip_archive.h"

extern const char nativePathSeparator;
// What ends a line on the error stream ("\r\n" on Windows, as the C runtime's
// text mode wrote it).
extern const char nativeLineEnd[];

enum class FileSystemStatus {
    ok,
    link,      // a link stands at the name: refused, never followed
    inTheWay,  // something else stands at the name (a file where a folder
               // goes, a folder where a file goes)
    failed,    // the system refused; nothing was written
};

struct Directory;

// A name component: `length` UTF-16 units, not terminated.
struct NativeName {
    const char16_t* text;
    size_t length;
};

// Reads a name without the UTF-8 flag as this platform's archive tools wrote
// it: Windows' OEM code page; code page 437 elsewhere (entry_name.h).
size_t decodeOemName(const char* bytes, size_t length, char16_t* out);

// The destination, created first when missing (its last component only). It
// is the caller's choice, so a link in its own path is followed.
FileSystemStatus openDestination(const char* path, Directory*& directory);

// The folder `name` inside `parent`, created first when missing.
FileSystemStatus openSubdirectory(const Directory& parent, const NativeName& name, Directory*& directory);

// Whether this run made the open folder: it was missing when it was opened,
// and it has been held since, so nothing stood in it before this run. Files
// are then created at their final names directly, without a part file.
bool madeThisRun(const Directory& directory);

// Gives the open folder the modification time `time` (when it says one).
void setDirectoryTime(const Directory& directory, const EntryTime& time);

void closeDirectory(Directory* directory);

// Free bytes for this program on the volume that holds `directory`; false
// when the system cannot say.
bool queryFreeSpace(const Directory& directory, uint64_t& freeBytes);

struct OutputFile;

// Creates the file `name` inside `parent`, new. Whatever stands at the name
// already is neither opened nor removed (Wine, seeing a Unix link to a file as
// a plain file, would remove the link's target): then `link` or `inTheWay`.
FileSystemStatus createNewFile(const Directory& parent, const NativeName& name, OutputFile*& file);

bool writeOutputFile(OutputFile* file, const uint8_t* data, size_t length);

// Gives `file` the modification time `time` (when it says one), closes it
// and renames it, the very file written, to `finalName` in the same folder,
// replacing a file of that name. A link or a folder standing at `finalName`
// is refused and left as it is. On any failure the file is removed. `file`
// is freed in every case.
FileSystemStatus commitOutputFile(OutputFile* file, const Directory& parent, const NativeName& name,
                                  const NativeName& finalName, const EntryTime& time);

// For a file created new at its final name (createNewFile in a folder this
// run made): gives it the time `time` (when it says one) and closes it. On
// failure the file is removed. `file` is freed in every case.
FileSystemStatus finishNewFile(OutputFile* file, const Directory& parent, const NativeName& name,
                               const EntryTime& time);

// Closes, removes and frees `file`.
void discardOutputFile(OutputFile* file, const Directory& parent, const NativeName& name);

struct InputFile;

// Opens an existing file for reading; nullptr when it is missing or unreadable.
InputFile* openInputFile(const char* path);
// Reads the file through `file`, which must stay open while the input is used;
// several threads may read at once.
ArchiveInput inputFileArchive(const InputFile* file);
void closeInputFile(InputFile* file);

// Writes to the standard error stream.
void writeErrorText(const char* text, size_t length);

// Threads that extract entries side by side, and the one lock they share.
struct WorkerLock;
WorkerLock* createWorkerLock();  // nullptr when none can be made
void destroyWorkerLock(WorkerLock* lock);
void lockWorkers(WorkerLock* lock);
void unlockWorkers(WorkerLock* lock);

struct Worker;
// Runs `run(context)` on a thread of its own; nullptr when none can start.
Worker* startWorker(void (*run)(void* context), void* context);
// Waits for the worker's end and frees it.
void finishWorker(Worker* worker);

// How many processors this program may run on.
unsigned processorCount();
