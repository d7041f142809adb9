#include "install/work_directory_removal.h"

#include "install/entry_position.h"
#include "install/native_files.h"
#include "install/removal_retry.h"
#include "launcher/constants.h"

namespace {

// Every level of a tree adds at least a backslash and a letter to its
// entries' names, so no tree whose entries the platform can name is deeper.
constexpr size_t deepestLevel = objectNameCapacity / 2;

// One listed entry (FILE_DIRECTORY_INFORMATION): its header, then its name.
// What the entry is, is read through its handle, not from the listing.
struct ListedHeader {
    ULONG next;
    ULONG index;
    ULONG timesAndSizes[12];
    ULONG attributes;
    ULONG nameLength;  // in bytes
};
constexpr int fileDirectoryInformation = 1;
constexpr int fileBasicInformation = 4;
constexpr LONG statusNoSuchFile = static_cast<LONG>(0xC000000F);

// FILE_BASIC_INFORMATION: four times (0 leaves each as it is) and the
// attributes.
struct BasicInformation {
    ULONG times[8];
    ULONG attributes;
    ULONG reserved;
};

struct ListedEntry {
    wchar_t name[entryNameCapacity];
    size_t length;
};

// What one walk over a tree keeps: the platform's name of the directory being
// listed, grown and cut as the walk enters and leaves directories, and the
// handles of the directories above it, each listed as far as the walk came.
struct Walk {
    NativeFiles calls;
    bool ownTree;  // made by this run: read-only entries are cleared
    wchar_t directoryName[objectNameCapacity];
    wchar_t entryName[objectNameCapacity];
    HANDLE parents[deepestLevel];
};

bool isDotName(const wchar_t* name, size_t length) {
    return name[0] == L'.' && (length == 1 || (length == 2 && name[1] == L'.'));
}

// The next entry of `directory` other than "." and "..", one at a time, so
// that the place in each listing is kept by its handle alone. The status:
// STATUS_NO_MORE_FILES at the end.
LONG nextEntry(const NativeFiles& calls, HANDLE directory, bool restart, ListedEntry& entry) {
    alignas(8) unsigned char listing[sizeof(ListedHeader) + sizeof entry.name];
    for (;;) {
        IO_STATUS_BLOCK status;
        const LONG result = calls.queryDirectory(directory, nullptr, nullptr, nullptr, &status, listing, sizeof listing,
                                                 fileDirectoryInformation, TRUE, nullptr, restart);
        restart = false;
        if (result < 0) return result;
        const auto& header = *reinterpret_cast<const ListedHeader*>(listing);
        const auto* name = reinterpret_cast<const wchar_t*>(listing + sizeof header);
        entry.length = header.nameLength / sizeof(wchar_t);
        if (entry.length == 0 || entry.length >= entryNameCapacity) continue;
        for (size_t i = 0; i < entry.length; ++i) entry.name[i] = name[i];
        entry.name[entry.length] = 0;
        if (!isDotName(entry.name, entry.length)) return result;
    }
}

// Clears a read-only attribute through the handle; the status.
LONG clearReadOnly(const NativeFiles& calls, HANDLE entry, DWORD attributes) {
    BasicInformation basic = {};
    basic.attributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (basic.attributes == 0) basic.attributes = FILE_ATTRIBUTE_NORMAL;
    IO_STATUS_BLOCK status;
    return calls.setInformation(entry, &status, &basic, sizeof basic, fileBasicInformation);
}

// Marks an opened entry for deletion. A read-only one is cleared first in a
// tree this run made; in any other tree it is someone's choice, which no
// pause changes.
RemovalAttempt deleteOpened(const Walk& walk, HANDLE entry, DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES) return RemovalAttempt::stuck;
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (!walk.ownTree || clearReadOnly(walk.calls, entry, attributes) < 0)) {
        return RemovalAttempt::stuck;
    }
    return judgeRemovalStatus(static_cast<unsigned long>(markForDeletion(walk.calls, entry)));
}

void copyWide(wchar_t* to, const wchar_t* from) {
    while ((*to++ = *from++) != 0) {
    }
}

void cutLastName(wchar_t* path) {
    wchar_t* last = nullptr;
    for (wchar_t* c = path; *c != 0; ++c) {
        if (*c == L'\\') last = c;
    }
    if (last != nullptr) *last = 0;
}

// Where the walk stands: the directory being listed and how deep it is.
struct Place {
    HANDLE directory;
    size_t depth;
    bool restart;  // its listing starts from the beginning
};

// A file opened as itself and found in place, deleted through its handle.
// Its attributes are not read first: only a read-only one refuses, and in a
// tree this run made it is cleared and tried once more.
RemovalAttempt deleteFile(const Walk& walk, HANDLE entry) {
    LONG status = markForDeletion(walk.calls, entry);
    if (status == statusCannotDelete && walk.ownTree && clearReadOnly(walk.calls, entry, 0) >= 0) {
        status = markForDeletion(walk.calls, entry);
    }
    return judgeRemovalStatus(static_cast<unsigned long>(status));
}

// One listed entry: opened as itself, checked and deleted through that
// handle; a directory is entered instead, and deleted once listed through.
RemovalAttempt takeEntry(Walk& walk, Place& place, const ListedEntry& listed) {
    const ACCESS_MASK access =
        DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE | (walk.ownTree ? FILE_WRITE_ATTRIBUTES : 0);
    HANDLE entry = nullptr;
    // Most entries are files: opened as a file first, which needs no second
    // look at what it is (a file link is then the link itself); a directory
    // refuses that, and is opened as whatever it is.
    for (ULONG kind = fileOnly;; kind = 0) {
        const LONG opened = openInDirectory(walk.calls, place.directory, listed.name, listed.length, access,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, openExisting,
                                            kind | openLinkItself | openForBackup | openSynchronously, nullptr, &entry);
        if (opened == statusFileIsADirectory && kind != 0) continue;
        if (opened < 0) return judgeRemovalStatus(static_cast<unsigned long>(opened));
        if (kind == 0) break;
        const RemovalAttempt outcome = openedInPlace(walk.calls, walk.directoryName, listed.name, entry, walk.entryName)
                                           ? deleteFile(walk, entry)
                                           : RemovalAttempt::stuck;
        CloseHandle(entry);
        return outcome;
    }
    const DWORD attributes = attributesOf(entry);
    RemovalAttempt outcome = RemovalAttempt::stuck;
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        openedInPlace(walk.calls, walk.directoryName, listed.name, entry, walk.entryName)) {
        // A link is deleted as the link itself and never entered.
        if (!isDirectoryAttribute(attributes) || isLinkAttribute(attributes)) {
            outcome = deleteOpened(walk, entry, attributes);
        } else if (place.depth < deepestLevel) {
            // Where a read-only folder keeps its entries (Wine), it is
            // cleared before them; whether it goes is told when it is left.
            if (walk.ownTree && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
                clearReadOnly(walk.calls, entry, attributes);
            }
            walk.parents[place.depth++] = place.directory;
            place = {entry, place.depth, true};
            copyWide(walk.directoryName, walk.entryName);
            return RemovalAttempt::removed;
        }
    }
    CloseHandle(entry);
    return outcome;
}

// One attempt at everything below `top`, whose name is in
// walk.directoryName; the worst outcome of its entries. `top` stays.
RemovalAttempt emptyDirectory(Walk& walk, HANDLE top) {
    RemovalAttempt worst = RemovalAttempt::removed;
    Place place = {top, 0, true};
    for (;;) {
        ListedEntry listed;
        const LONG listing = nextEntry(walk.calls, place.directory, place.restart, listed);
        place.restart = false;
        if (listing >= 0) {
            worst = worseAttempt(worst, takeEntry(walk, place, listed));
            continue;
        }
        if (listing != statusNoMoreFiles && listing != statusNoSuchFile) {
            worst = worseAttempt(worst, RemovalAttempt::stuck);
        }
        if (place.depth == 0) return worst;
        // Listed through: it goes with its handle, when nothing stayed in it.
        worst = worseAttempt(worst, deleteOpened(walk, place.directory, attributesOf(place.directory)));
        CloseHandle(place.directory);
        place.directory = walk.parents[--place.depth];
        cutLastName(walk.directoryName);
    }
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// The run's own tree between attempts: its top, held or opened again for
// deleting it, or null when it has to be opened again.
struct OwnTree {
    Walk* walk;
    HANDLE top;
    bool deletable;  // `top` was opened with delete access
    const char* path;
    BY_HANDLE_FILE_INFORMATION identity;
};

RemovalAttempt attemptOwnTree(void* context) {
    OwnTree& tree = *static_cast<OwnTree*>(context);
    if (tree.top == nullptr) {
        // Only when nobody else has it open, so that it goes at once; and
        // only the directory this run made, not what stands at its name now.
        HANDLE again = CreateFileA(
            tree.path, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, 0,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (again == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return RemovalAttempt::removed;
            return error == ERROR_SHARING_VIOLATION ? RemovalAttempt::inUse : RemovalAttempt::stuck;
        }
        BY_HANDLE_FILE_INFORMATION found;
        if (!GetFileInformationByHandle(again, &found) || !sameFile(found, tree.identity)) {
            CloseHandle(again);
            return RemovalAttempt::stuck;
        }
        tree.top = again;
        tree.deletable = true;
    }
    const RemovalAttempt below = emptyDirectory(*tree.walk, tree.top);
    if (below != RemovalAttempt::removed) return below;
    if (!tree.deletable) {
        // The handle held through the run shares no deletion, not even with
        // this process: the directory is deleted through a new one.
        CloseHandle(tree.top);
        tree.top = nullptr;
        return attemptOwnTree(context);
    }
    const RemovalAttempt outcome = deleteOpened(*tree.walk, tree.top, attributesOf(tree.top));
    if (outcome != RemovalAttempt::removed) return outcome;
    CloseHandle(tree.top);
    tree.top = nullptr;
    return RemovalAttempt::removed;
}

void pauseRemoval(unsigned long milliseconds) { Sleep(milliseconds); }

}  // namespace

TreeRemoval removeForeignTree(HANDLE parent, const char* name) {
    Walk walk;
    walk.calls = lookUpNativeFiles();
    walk.ownTree = false;
    if (!walk.calls.complete()) return TreeRemoval::unreadable;
    HANDLE top = nullptr;
    const LONG opened =
        openStanding(walk.calls, parent, name, nullptr,
                     DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0, directoryOnly, &top);
    if (opened == statusNotInPlace) return TreeRemoval::link;
    if (opened < 0) {
        switch (judgeRemovalStatus(static_cast<unsigned long>(opened))) {
            case RemovalAttempt::removed: return TreeRemoval::missing;
            case RemovalAttempt::inUse: return TreeRemoval::inUse;
            case RemovalAttempt::stuck: break;
        }
        return TreeRemoval::unreadable;
    }
    RemovalAttempt outcome = RemovalAttempt::stuck;
    if (readObjectName(walk.calls, top, walk.directoryName)) {
        outcome = emptyDirectory(walk, top);
        if (outcome == RemovalAttempt::removed) outcome = deleteOpened(walk, top, attributesOf(top));
    }
    CloseHandle(top);
    return outcome == RemovalAttempt::removed ? TreeRemoval::removed : TreeRemoval::left;
}

bool removeOwnTree(HANDLE held, const char* path) {
    Walk walk;
    walk.calls = lookUpNativeFiles();
    walk.ownTree = true;
    OwnTree tree = {&walk, held, false, path, {}};
    const bool known = GetFileInformationByHandle(held, &tree.identity) != FALSE;
    if (!known || !walk.calls.complete() || !readObjectName(walk.calls, held, walk.directoryName)) {
        CloseHandle(held);
        return false;
    }
    const RemovalAttempt outcome = removeWithRetries(&attemptOwnTree, &tree, &pauseRemoval);
    if (tree.top != nullptr) CloseHandle(tree.top);
    return outcome == RemovalAttempt::removed;
}

TreeRemoval removeDirectoryTree(const char* path) {
    char parentPath[pathBufferSize];
    char name[pathBufferSize];
    if (path == nullptr || !splitLastName(path, parentPath, sizeof parentPath, name, sizeof name)) {
        return TreeRemoval::unreadable;
    }
    HANDLE parent = CreateFileA(parentPath, FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (parent == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TreeRemoval::missing
                                                                              : TreeRemoval::unreadable;
    }
    const TreeRemoval removal = removeForeignTree(parent, name);
    CloseHandle(parent);
    return removal;
}
