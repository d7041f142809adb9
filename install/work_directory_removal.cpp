#include "install/work_directory_removal.h"

#include <windows.h>

#include "install/commands.h"
#include "text/bounded_text.h"

namespace {

bool isDotEntry(const char* name) { return textsEqual(name, ".") || textsEqual(name, ".."); }

void removeEntry(const char* directory, const WIN32_FIND_DATAA& entry) {
    const bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isDirectory && isDotEntry(entry.cFileName)) return;
    // An entry whose path would not fit is passed over; it and its parents stay.
    char entryPath[pathBufferSize];
    if (!joinPath(directory, entry.cFileName, entryPath)) return;

    if (!isDirectory) {
        DeleteFileA(entryPath);
    } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A junction or directory link may point anywhere: remove the link
        // itself and never walk into what it points at.
        RemoveDirectoryA(entryPath);
    } else {
        removeDirectoryTree(entryPath);
    }
}

}  // namespace

int removeDirectoryTree(const char* path) {
    char pattern[pathBufferSize];
    if (joinPath(path, "*.*", pattern)) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(pattern, &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                removeEntry(path, entry);
            } while (FindNextFileA(search, &entry));
            FindClose(search);
        }
    }
    RemoveDirectoryA(path);
    return 1;
}

int removeWorkDirectory(const char* path) {
    if (path != nullptr && path[0] != 0) removeDirectoryTree(path);
    return 1;
}
