#include "install/held_file.h"

#include "install/commands.h"
#include "install/native_files.h"
#include "text/bounded_text.h"

FileHold HeldFile::holdIn(HANDLE directory, const char* directoryPath, const char* name) {
    release();
    char path[pathBufferSize];
    if (!joinPath(directoryPath, name, path)) return FileHold::refused;
    HANDLE file = nullptr;
    const LONG opened =
        openStanding(lookUpNativeFiles(), directory, name, path, FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                     FILE_SHARE_READ, fileOnly, &file);
    if (opened == statusNameNotFound) return FileHold::missing;
    if (opened < 0) return FileHold::refused;
    handle_ = file;
    copyText(path_, path);
    return FileHold::held;
}

void HeldFile::release() {
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = nullptr;
    path_[0] = 0;
}
