// The work directory of a run: made new by the run, private to it and held
// from the moment it is made; or, when the user named one that exists, used
// only when nobody but SYSTEM, the Administrators and the launcher's user can
// change it. Held for the whole run without sharing deletion, so that no
// other process can delete, rename or replace it.
#pragma once

#include <windows.h>

#include <stddef.h>

#include "launcher/constants.h"

enum class WorkDirectoryState {
    ready,            // made (or, when named, found fit) and held
    notCreated,       // it could not be made
    notDirectory,     // the named path is something else
    isLink,           // the named directory is a link, or not where its name says
    othersMayChange,  // the named directory exists and others may change it
    tooLong,          // its full path does not fit in a path buffer
};

// Prepares the work directory at `path`, which first becomes the full path
// the platform's rules give it (a drive-relative C:name would otherwise be
// resolved again from each child's directory). A temporary one is made new: what
// an earlier run left at its name is removed first, unless another process
// has it open, it is a link, or something in it stays; while the name is
// still taken, a sibling named `path` and a point and eight random
// hexadecimal digits is made instead (a few tries), and `path` becomes that.
// A named one is made with every missing parent, each private; one that
// exists is opened without following a link and judged by its owner and
// access list. On `ready`, `hold` is the handle to keep for the whole run.
WorkDirectoryState prepareWorkDirectory(char (&path)[pathBufferSize], bool temporary, HANDLE* hold);

// The security descriptor for the directories the launcher creates, for the
// running user and elevation; its size, or 0 when the platform would not say
// who the launcher runs as.
size_t buildLauncherDescriptor(unsigned char* out, size_t capacity);
