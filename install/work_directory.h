// The work directory of a run: made new by the run and private to it, or,
// when the user named one that exists, used as it stands; held open for the
// whole run so that no other process can delete, rename or replace it.
#pragma once

#include <windows.h>

#include <stddef.h>

enum class WorkDirectoryState {
    ready,               // made (or, when named, found) and held
    inUse,               // another run holds the temporary work directory
    isLink,              // the temporary work directory is a link
    leftoverNotCleared,  // what an earlier run left could not all be removed
    notCreated,          // it could not be created
    notDirectory,        // the named path is something else
};

// Prepares the work directory at `path`. A temporary one is made new: what an
// earlier run left is removed first (unless another process holds it), and
// then it must be created by this run. A named one is created when missing
// and otherwise used as it stands. On `ready`, `hold` is the open handle to
// keep until the run is over.
WorkDirectoryState prepareWorkDirectory(const char* path, bool temporary, HANDLE* hold);

// The security descriptor for the directories the launcher creates, for the
// running user and elevation; its size, or 0 when the platform would not say
// who the launcher runs as.
size_t buildLauncherDescriptor(unsigned char* out, size_t capacity);
// CreateDirectoryA with that descriptor.
bool createPrivateDirectory(const char* path);
