#include "install/work_directory_removal.h"

#include <windows.h>
#include <winternl.h>

#include "install/commands.h"
#include "install/entry_position.h"
#include "launcher/system_functions.h"
#include "text/bounded_text.h"

namespace {

// A final path holds the "\\?\" prefix and long forms of short names, so it
// may be longer than the path it was asked for. A deeper entry cannot be
// checked and is left, which also bounds the depth of the walk.
constexpr DWORD finalPathCapacity = 2 * pathBufferSize;
// Room for at least one entry with a name of 255 characters.
constexpr DWORD listingCapacity = 1024;
constexpr DWORD entryNameCapacity = 256;

// The native open relative to a directory handle, and its options.
using NtCreateFileCall = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, LARGE_INTEGER*, ULONG,
                                      ULONG, ULONG, ULONG, void*, ULONG);
constexpr ULONG openExisting = 1;                // FILE_OPEN
constexpr ULONG openSynchronously = 0x00000020;  // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG openForBackup = 0x00004000;      // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG openLinkItself = 0x00200000;     // FILE_OPEN_REPARSE_POINT
constexpr ULONG caseInsensitive = 0x00000040;    // OBJ_CASE_INSENSITIVE

using GetInformationCall = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
using SetInformationCall = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
using FinalPathCall = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// What the walk through handles needs; all present from Vista on.
struct HandleCalls {
    NtCreateFileCall openRelative;
    GetInformationCall getInformation;
    SetInformationCall setInformation;
    FinalPathCall finalPath;

    bool complete() const {
        return openRelative != nullptr && getInformation != nullptr && setInformation != nullptr &&
               finalPath != nullptr;
    }
};

HandleCalls lookUpHandleCalls() {
    return {
        lookUpSystemFunctionAs<NtCreateFileCall>("ntdll.dll", "NtCreateFile"),
        lookUpSystemFunctionAs<GetInformationCall>("kernel32.dll", "GetFileInformationByHandleEx"),
        lookUpSystemFunctionAs<SetInformationCall>("kernel32.dll", "SetFileInformationByHandle"),
        lookUpSystemFunctionAs<FinalPathCall>("kernel32.dll", "GetFinalPathNameByHandleW"),
    };
}

bool isDotName(const wchar_t* name) { return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0)); }

bool isDotEntry(const char* name) { return textsEqual(name, ".") || textsEqual(name, ".."); }

DWORD attributesOf(HANDLE entry) {
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(entry, &information) ? information.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool isLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool isDirectory(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Where the platform says the opened entry is; empty when it cannot say.
void readFinalPath(const HandleCalls& calls, HANDLE entry, wchar_t (&out)[finalPathCapacity]) {
    const DWORD length = calls.finalPath(entry, out, finalPathCapacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= finalPathCapacity) out[0] = 0;
}

// Deleted when the last handle to it closes; a directory only when empty.
void markForDeletion(const HandleCalls& calls, HANDLE entry) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    calls.setInformation(entry, FileDispositionInfo, &disposition, sizeof disposition);
}

// Opens the entry `name` of the directory `directory` itself, never what a
// link there points at; nobody else may delete or rename it while it is open.
HANDLE openEntry(const HandleCalls& calls, HANDLE directory, const wchar_t* name, size_t nameLength, bool listed) {
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<wchar_t*>(name);
    objectName.Length = static_cast<USHORT>(nameLength * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes;
    fillBytes(&attributes, 0, sizeof attributes);
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = directory;
    attributes.ObjectName = &objectName;
    attributes.Attributes = caseInsensitive;
    IO_STATUS_BLOCK status;
    HANDLE entry = nullptr;
    const ACCESS_MASK access = DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE | (listed ? FILE_LIST_DIRECTORY : 0);
    const LONG result =
        calls.openRelative(&entry, access, &attributes, &status, nullptr, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           openExisting, openLinkItself | openForBackup | openSynchronously, nullptr, 0);
    return result >= 0 ? entry : nullptr;
}

void emptyOpenedDirectory(const HandleCalls& calls, HANDLE directory, const wchar_t* directoryFinal);

// One entry of a directory being emptied: opened once, checked and deleted
// through that handle.
void removeListedEntry(const HandleCalls& calls, HANDLE directory, const wchar_t* directoryFinal,
                       const FILE_FULL_DIR_INFO& listed) {
    const size_t nameLength = listed.FileNameLength / sizeof(wchar_t);
    if (nameLength == 0 || nameLength >= entryNameCapacity) return;
    wchar_t name[entryNameCapacity];
    for (size_t i = 0; i < nameLength; ++i) name[i] = listed.FileName[i];
    name[nameLength] = 0;
    if (isDotName(name)) return;

    HANDLE entry = openEntry(calls, directory, name, nameLength, isDirectory(listed.FileAttributes));
    if (entry == nullptr) return;
    wchar_t entryFinal[finalPathCapacity];
    readFinalPath(calls, entry, entryFinal);
    const DWORD attributes = attributesOf(entry);
    if (standsInPlace(directoryFinal, name, entryFinal) && attributes != INVALID_FILE_ATTRIBUTES) {
        // A link is deleted as the link itself and never entered.
        if (isDirectory(attributes) && !isLink(attributes)) emptyOpenedDirectory(calls, entry, entryFinal);
        markForDeletion(calls, entry);
    }
    CloseHandle(entry);
}

void emptyOpenedDirectory(const HandleCalls& calls, HANDLE directory, const wchar_t* directoryFinal) {
    alignas(8) unsigned char listing[listingCapacity];
    while (calls.getInformation(directory, FileFullDirectoryInfo, listing, sizeof listing)) {
        for (DWORD offset = 0;;) {
            const auto& listed = *reinterpret_cast<const FILE_FULL_DIR_INFO*>(listing + offset);
            removeListedEntry(calls, directory, directoryFinal, listed);
            if (listed.NextEntryOffset == 0 || offset + listed.NextEntryOffset >= sizeof listing) break;
            offset += listed.NextEntryOffset;
        }
    }
}

// Where the platform says `path` is, following every link on the way.
void readFinalPathThroughLinks(const HandleCalls& calls, const char* path, wchar_t (&out)[finalPathCapacity]) {
    out[0] = 0;
    HANDLE entry = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (entry == INVALID_HANDLE_VALUE) return;
    readFinalPath(calls, entry, out);
    CloseHandle(entry);
}

// Whether the opened top stands where `path` says, judged like any entry
// against the directory that holds it; that directory is resolved through
// its links, which are the user's or the administrator's own arrangement.
bool topStandsInPlace(const HandleCalls& calls, const char* path, HANDLE top, wchar_t (&topFinal)[finalPathCapacity]) {
    char parent[pathBufferSize];
    char name[pathBufferSize];
    wchar_t wideName[pathBufferSize];
    if (!splitLastName(path, parent, sizeof parent, name, sizeof name) ||
        MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, pathBufferSize) == 0) {
        return false;
    }
    wchar_t parentFinal[finalPathCapacity];
    readFinalPathThroughLinks(calls, parent, parentFinal);
    readFinalPath(calls, top, topFinal);
    return standsInPlace(parentFinal, wideName, topFinal);
}

void removeEntryByPath(const char* directory, const WIN32_FIND_DATAA& entry) {
    const bool directoryEntry = isDirectory(entry.dwFileAttributes);
    if (directoryEntry && isDotEntry(entry.cFileName)) return;
    // An entry whose path would not fit is passed over; it and its parents stay.
    char entryPath[pathBufferSize];
    if (!joinPath(directory, entry.cFileName, entryPath)) return;
    if (!directoryEntry) {
        DeleteFileA(entryPath);
    } else if (isLink(entry.dwFileAttributes)) {
        // A junction or directory link may point anywhere: remove the link
        // itself and never walk into what it points at.
        RemoveDirectoryA(entryPath);
    } else {
        removeDirectoryTreeByPaths(entryPath);
    }
}

}  // namespace

int removeDirectoryTreeByPaths(const char* path) {
    char pattern[pathBufferSize];
    if (joinPath(path, "*.*", pattern)) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(pattern, &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                removeEntryByPath(path, entry);
            } while (FindNextFileA(search, &entry));
            FindClose(search);
        }
    }
    RemoveDirectoryA(path);
    return 1;
}

TreeTop removeDirectoryTreeFromTop(const char* path, bool exclusive) {
    HANDLE top = CreateFileA(path, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                             exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (top == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return TreeTop::missing;
        return error == ERROR_SHARING_VIOLATION ? TreeTop::inUse : TreeTop::unreadable;
    }
    const DWORD attributes = attributesOf(top);
    TreeTop found = TreeTop::removed;
    if (attributes == INVALID_FILE_ATTRIBUTES || !isDirectory(attributes)) found = TreeTop::unreadable;
    if (isLink(attributes)) found = TreeTop::link;

    const HandleCalls calls = lookUpHandleCalls();
    if (found == TreeTop::removed && calls.complete()) {
        wchar_t topFinal[finalPathCapacity];
        if (topStandsInPlace(calls, path, top, topFinal)) {
            emptyOpenedDirectory(calls, top, topFinal);
            markForDeletion(calls, top);
        } else {
            found = TreeTop::link;
        }
    }
    CloseHandle(top);
    if (found == TreeTop::removed && !calls.complete()) removeDirectoryTreeByPaths(path);
    return found;
}

int removeDirectoryTree(const char* path) {
    removeDirectoryTreeFromTop(path, false);
    return 1;
}

int removeWorkDirectory(const char* path) {
    if (path != nullptr && path[0] != 0) removeDirectoryTree(path);
    return 1;
}
