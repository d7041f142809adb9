// A file opened and held: from its check until its release nobody may write
// to it, delete it or rename it, so that the program started (or the data
// read) by its path is the file that was checked. Held for reading, sharing
// only reading, which still lets the platform start it as a program and a
// command interpreter read it as a script.
#pragma once

#include <windows.h>

#include "launcher/constants.h"

enum class FileHold {
    held,
    missing,  // nothing of that name
    refused,  // a link, a directory, not where its name says, or in use for writing
};

class HeldFile {
public:
    HeldFile() = default;
    ~HeldFile() { release(); }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // `name` directly in the directory held as `directory`, whose path is
    // `directoryPath`: opened relative to that handle, never through a link,
    // and held only when it is a plain file standing where its name says.
    FileHold holdIn(HANDLE directory, const char* directoryPath, const char* name);
    void release();

    // "directoryPath\name"; empty while nothing is held.
    const char* path() const { return path_; }
    HANDLE handle() const { return handle_; }

private:
    char path_[pathBufferSize] = "";
    HANDLE handle_ = nullptr;
};
