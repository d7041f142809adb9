#include "install/work_directory.h"

#include "install/commands.h"
#include "install/directory_trust.h"
#include "install/entry_position.h"
#include "install/native_files.h"
#include "install/work_directory_removal.h"
#include "install/work_directory_security.h"
#include "launcher/system_functions.h"
#include "text/bounded_text.h"

namespace {

// Room for TOKEN_USER or TOKEN_MANDATORY_LABEL and the identifier in it.
constexpr DWORD tokenInformationCapacity = 128;
// A directory's owner and access list as the platform gives them; a longer
// one is not read, and the directory not used.
constexpr DWORD descriptorReadCapacity = 4096;
constexpr int siblingTries = 4;

// The work directory's handle: enough to list it, read its access list and
// open what stands in it; never deletion, so that the run's children can
// make it their current directory, and sharing no deletion, so that nobody
// can rename or delete it while it is held.
constexpr ACCESS_MASK holdAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr ULONG holdSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

using RandomCall = BOOLEAN(WINAPI*)(void*, ULONG);
using VolumeInformationCall = BOOL(WINAPI*)(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);

// The identifier at `sid`, which the platform placed inside `buffer`.
size_t sidSizeWithin(const void* sid, const unsigned char* buffer, DWORD filled) {
    const unsigned char* start = static_cast<const unsigned char*>(sid);
    if (start < buffer || start >= buffer + filled) return 0;
    return sidSize(start, static_cast<size_t>(buffer + filled - start));
}

// The integrity level (the label's last sub-authority); 0 where the platform
// has no labels.
unsigned long integrityLevelOf(HANDLE token) {
    alignas(8) unsigned char buffer[tokenInformationCapacity];
    DWORD filled = 0;
    if (!GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof buffer, &filled)) return 0;
    const void* sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
    const size_t size = sidSizeWithin(sid, buffer, filled);
    if (size < 12) return 0;
    const unsigned char* last = static_cast<const unsigned char*>(sid) + size - 4;
    return last[0] | (last[1] << 8) | (static_cast<unsigned long>(last[2]) << 16) |
           (static_cast<unsigned long>(last[3]) << 24);
}

// Who the launcher runs as, and whether elevated.
struct LauncherUser {
    alignas(8) unsigned char information[tokenInformationCapacity];
    const unsigned char* sid;
    size_t sidSize;
    bool elevated;
};

bool readLauncherUser(LauncherUser& user) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(currentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD filled = 0;
    user.sidSize = 0;
    if (GetTokenInformation(token, TokenUser, user.information, sizeof user.information, &filled)) {
        const void* sid = reinterpret_cast<const TOKEN_USER*>(user.information)->User.Sid;
        user.sid = static_cast<const unsigned char*>(sid);
        user.sidSize = sidSizeWithin(sid, user.information, filled);
        user.elevated = runsElevated(integrityLevelOf(token), sidIsLocalSystem(user.sid, user.sidSize));
    }
    CloseHandle(token);
    return user.sidSize != 0;
}

// A directory by its path, through any links on the way: the machine's own
// arrangement above the work directory.
HANDLE openDirectoryByPath(const char* path) {
    HANDLE directory = CreateFileA(path, FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return directory == INVALID_HANDLE_VALUE ? nullptr : directory;
}

// The directory `name` in `parent` (its full path `path`), made new and
// private (`create`) or opened as it stands, never through a link at its
// name, and held. Made and held in one step, so that nothing can take its
// place in between; where the native calls are missing, made by its path
// and then opened, and held only when it is no link. The status.
LONG openHeld(const NativeFiles& calls, HANDLE parent, const char* path, const char* name, bool create, HANDLE* hold) {
    *hold = nullptr;
    if (create) {
        alignas(8) unsigned char descriptor[workDirectoryDescriptorCapacity];
        wchar_t wideName[entryNameCapacity];
        const size_t length = widenName(name, wideName);
        if (length == 0 || buildLauncherDescriptor(descriptor, sizeof descriptor) == 0) return statusUnsuccessful;
        if (calls.complete()) {
            return openInDirectory(calls, parent, wideName, length, holdAccess, holdSharing, createNew,
                                   directoryOnly | openSynchronously, descriptor, hold);
        }
        SECURITY_ATTRIBUTES security = {sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
        if (!CreateDirectoryA(path, &security)) {
            return GetLastError() == ERROR_ALREADY_EXISTS ? statusNameCollision : statusUnsuccessful;
        }
    }
    return openStanding(calls, parent, name, path, holdAccess, holdSharing, directoryOnly, hold);
}

// Makes the directory at `path` new, after each missing parent, every one
// private. `*parent` is left holding the directory it stands in, and `name`
// is its last name. The status of making it.
LONG createWithParents(const NativeFiles& calls, const char* path, HANDLE* parent, char (&name)[pathBufferSize],
                       HANDLE* hold) {
    char parentPath[pathBufferSize];
    *parent = nullptr;
    *hold = nullptr;
    if (!splitLastName(path, parentPath, sizeof parentPath, name, sizeof name)) return statusUnsuccessful;
    *parent = openDirectoryByPath(parentPath);
    if (*parent == nullptr) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return statusUnsuccessful;
        HANDLE grandparent = nullptr;
        char parentName[pathBufferSize];
        const LONG madeParent = createWithParents(calls, parentPath, &grandparent, parentName, parent);
        if (grandparent != nullptr) CloseHandle(grandparent);
        // Made meanwhile by someone else: only the last directory is judged.
        if (madeParent == statusNameCollision) *parent = openDirectoryByPath(parentPath);
        if (*parent == nullptr) return madeParent < 0 ? madeParent : statusUnsuccessful;
    }
    return openHeld(calls, *parent, path, name, true, hold);
}

bool volumeKeepsAccessLists(HANDLE directory) {
    const auto volumeInformation =
        lookUpSystemFunctionAs<VolumeInformationCall>(kernelModule, "GetVolumeInformationByHandleW");
    // Before Vista the descriptor alone decides; a volume without access
    // lists reports one that lets everyone do everything.
    if (volumeInformation == nullptr) return true;
    DWORD flags = 0;
    return volumeInformation(directory, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_PERSISTENT_ACLS) != 0;
}

// An existing named directory, held: the descriptor read through that very
// handle, not by its path, decides.
bool onlyTrustedMayChange(HANDLE held) {
    alignas(8) unsigned char descriptor[descriptorReadCapacity];
    DWORD needed = 0;
    LauncherUser user;
    if (!GetKernelObjectSecurity(held, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor,
                                 sizeof descriptor, &needed) ||
        !readLauncherUser(user)) {
        return false;
    }
    return judgeExistingDirectory(descriptor, sizeof descriptor, user.sid, user.sidSize,
                                  volumeKeepsAccessLists(held)) == DirectoryTrust::trusted;
}

WorkDirectoryState openExistingNamed(const NativeFiles& calls, HANDLE parent, const char* path, const char* name,
                                     HANDLE* hold) {
    switch (openHeld(calls, parent, path, name, false, hold)) {
        case 0: break;
        case statusNotADirectory: return WorkDirectoryState::notDirectory;
        case statusNotInPlace: return WorkDirectoryState::isLink;
        default: return WorkDirectoryState::notCreated;
    }
    if (onlyTrustedMayChange(*hold)) return WorkDirectoryState::ready;
    CloseHandle(*hold);
    *hold = nullptr;
    return WorkDirectoryState::othersMayChange;
}

bool randomNumber(unsigned long* value) {
    const auto random = lookUpSystemFunctionAs<RandomCall>(securityModule, "SystemFunction036");
    return random != nullptr && random(value, sizeof *value);
}

// The temporary work directory's name is taken. What an earlier run left
// there goes, unless it is in use, a link, or something in it stays; then a
// sibling of the run's own is made instead: a name that stays taken never
// stops a run.
LONG makeAnew(const NativeFiles& calls, HANDLE parent, char (&path)[pathBufferSize], char (&name)[pathBufferSize],
              HANDLE* hold) {
    LONG made = statusNameCollision;
    if (removeForeignTree(parent, name) == TreeRemoval::removed) made = openHeld(calls, parent, path, name, true, hold);
    char base[pathBufferSize];
    char parentPath[pathBufferSize];
    copyText(base, path);
    unsigned long random = 0;
    for (int i = 0; i < siblingTries && made == statusNameCollision && randomNumber(&random); ++i) {
        if (!composeSiblingWorkDirectory(base, random, path) ||
            !splitLastName(path, parentPath, sizeof parentPath, name, sizeof name)) {
            break;
        }
        made = openHeld(calls, parent, path, name, true, hold);
    }
    return made;
}

}  // namespace

size_t buildLauncherDescriptor(unsigned char* out, size_t capacity) {
    LauncherUser user;
    if (!readLauncherUser(user)) return 0;
    return buildWorkDirectoryDescriptor(user.sid, user.sidSize, user.elevated, out, capacity);
}

WorkDirectoryState prepareWorkDirectory(char (&path)[pathBufferSize], bool temporary, HANDLE* hold) {
    *hold = INVALID_HANDLE_VALUE;
    // Made, and used by the whole run, where the platform's own path rules
    // put it (a temporary path is full already, and stays as it is).
    char fullPath[pathBufferSize];
    const DWORD length = GetFullPathNameA(path, pathBufferSize, fullPath, nullptr);
    if (length == 0) return WorkDirectoryState::notCreated;
    if (length >= pathBufferSize) return WorkDirectoryState::tooLong;
    copyText(path, fullPath);
    const NativeFiles calls = lookUpNativeFiles();
    HANDLE parent = nullptr;
    HANDLE held = nullptr;
    char name[pathBufferSize];
    LONG made = createWithParents(calls, path, &parent, name, &held);
    WorkDirectoryState state = WorkDirectoryState::notCreated;
    if (made == statusNameCollision && parent != nullptr && !temporary) {
        state = openExistingNamed(calls, parent, path, name, &held);
    } else {
        if (made == statusNameCollision && parent != nullptr) made = makeAnew(calls, parent, path, name, &held);
        if (made >= 0) state = WorkDirectoryState::ready;
    }
    if (parent != nullptr) CloseHandle(parent);
    if (state == WorkDirectoryState::ready) *hold = held;
    return state;
}
