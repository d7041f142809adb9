#include "install/work_directory_removal.h"

#include <windows.h>

#include "install/commands.h"
#include "text/bounded_text.h"

namespace {

// A final path holds the "\\?\" prefix and long forms of short names, so it
// may be longer than the path it was asked for.
constexpr size_t finalPathBufferSize = 2 * pathBufferSize;

using FinalPathQuery = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);

bool isDotEntry(const char* name) { return textsEqual(name, ".") || textsEqual(name, ".."); }

// Looked up at run time: systems before Vista lack it, and there the
// removal works as before, with no check of where an entry really lies.
FinalPathQuery finalPathQuery() {
    // Through the generic function type, which any function pointer may take.
    return reinterpret_cast<FinalPathQuery>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
}

// Where the platform says `path` really is, the entry itself opened rather
// than what a link points at. Empty when the platform cannot say.
void readFinalPath(FinalPathQuery query, const char* path, char (&out)[finalPathBufferSize]) {
    out[0] = 0;
    HANDLE entry = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                               nullptr);
    if (entry == INVALID_HANDLE_VALUE) return;
    const DWORD length = query(entry, out, finalPathBufferSize, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= finalPathBufferSize) out[0] = 0;
    CloseHandle(entry);
}

// Whether `path`, the entry `name` of the directory whose final path is
// `directoryFinal`, really stands there. Where the platform follows a link
// even when asked not to (Wine does), the link's final path is its target's,
// and deleting the link would delete the target: such an entry is left.
bool standsInPlace(const char* directoryFinal, const char* path, const char* name) {
    const FinalPathQuery query = finalPathQuery();
    if (query == nullptr) return true;
    char expected[finalPathBufferSize] = "";
    char actual[finalPathBufferSize];
    readFinalPath(query, path, actual);
    return directoryFinal[0] != 0 && actual[0] != 0 && appendText(expected, directoryFinal) &&
           appendText(expected, "\\") && appendText(expected, name) && lstrcmpiA(expected, actual) == 0;
}

void removeTreeAt(const char* path, const char* pathFinal);

void removeEntry(const char* directory, const char* directoryFinal, const WIN32_FIND_DATAA& entry) {
    const bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isDirectory && isDotEntry(entry.cFileName)) return;
    // An entry whose path would not fit is passed over; it and its parents stay.
    char entryPath[pathBufferSize];
    if (!joinPath(directory, entry.cFileName, entryPath)) return;
    if (!standsInPlace(directoryFinal, entryPath, entry.cFileName)) return;

    if (!isDirectory) {
        DeleteFileA(entryPath);
    } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A junction or directory link may point anywhere: remove the link
        // itself and never walk into what it points at.
        RemoveDirectoryA(entryPath);
    } else {
        char entryFinal[finalPathBufferSize] = "";
        const FinalPathQuery query = finalPathQuery();
        if (query != nullptr) readFinalPath(query, entryPath, entryFinal);
        removeTreeAt(entryPath, entryFinal);
    }
}

void removeTreeAt(const char* path, const char* pathFinal) {
    char pattern[pathBufferSize];
    if (joinPath(path, "*.*", pattern)) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(pattern, &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                removeEntry(path, pathFinal, entry);
            } while (FindNextFileA(search, &entry));
            FindClose(search);
        }
    }
    RemoveDirectoryA(path);
}

}  // namespace

int removeDirectoryTree(const char* path) {
    char top[pathBufferSize];
    if (!copyText(top, path)) return 1;
    // The top is checked like any entry, against the directory it stands in.
    size_t length = textLength(top);
    while (length > 0 && top[length - 1] == '\\') top[--length] = 0;
    size_t nameStart = length;
    while (nameStart > 0 && top[nameStart - 1] != '\\') --nameStart;

    const FinalPathQuery query = finalPathQuery();
    char topFinal[finalPathBufferSize] = "";
    if (query != nullptr) {
        if (nameStart > 0 && nameStart < length) {
            char parent[pathBufferSize];
            copyText(parent, top);
            // Keep the backslash of a drive root ("C:\").
            parent[nameStart > 1 && parent[nameStart - 2] != ':' ? nameStart - 1 : nameStart] = 0;
            char parentFinal[finalPathBufferSize];
            readFinalPath(query, parent, parentFinal);
            // A root's final path already ends with its backslash.
            const size_t parentLength = textLength(parentFinal);
            if (parentLength > 0 && parentFinal[parentLength - 1] == '\\') parentFinal[parentLength - 1] = 0;
            if (!standsInPlace(parentFinal, top, top + nameStart)) return 1;
        }
        readFinalPath(query, top, topFinal);
    }
    removeTreeAt(top, topFinal);
    return 1;
}

int removeWorkDirectory(const char* path) {
    if (path != nullptr && path[0] != 0) removeDirectoryTree(path);
    return 1;
}
