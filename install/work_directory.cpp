#include "install/work_directory.h"

#include "install/work_directory_removal.h"
#include "install/work_directory_security.h"

namespace {

// Room for TOKEN_USER or TOKEN_MANDATORY_LABEL and the identifier in it.
constexpr DWORD tokenInformationCapacity = 128;

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

HANDLE holdDirectory(const char* path, DWORD flags) {
    return CreateFileA(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags,
                       nullptr);
}

// Holds the directory just created at `path`, the directory itself and not
// a link put there since.
WorkDirectoryState holdCreated(const char* path, HANDLE* hold) {
    HANDLE held = holdDirectory(path, FILE_FLAG_OPEN_REPARSE_POINT);
    if (held == INVALID_HANDLE_VALUE) return WorkDirectoryState::notCreated;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(held, &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
            FILE_ATTRIBUTE_DIRECTORY) {
        CloseHandle(held);
        return WorkDirectoryState::notCreated;
    }
    *hold = held;
    return WorkDirectoryState::ready;
}

WorkDirectoryState prepareTemporary(const char* path, HANDLE* hold) {
    // Emptied only when no other process has it open: a run that still
    // installs from it keeps it.
    switch (removeDirectoryTreeFromTop(path, true)) {
        case TreeTop::inUse: return WorkDirectoryState::inUse;
        case TreeTop::link: return WorkDirectoryState::isLink;
        case TreeTop::missing:
        case TreeTop::removed:
        case TreeTop::unreadable: break;
    }
    // Made by this run or not used at all: whatever still stands there could
    // hold files that are not the package's.
    if (!createPrivateDirectory(path)) {
        return GetLastError() == ERROR_ALREADY_EXISTS ? WorkDirectoryState::leftoverNotCleared
                                                      : WorkDirectoryState::notCreated;
    }
    return holdCreated(path, hold);
}

WorkDirectoryState prepareNamed(const char* path, HANDLE* hold) {
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        if (!createPrivateDirectory(path)) return WorkDirectoryState::notCreated;
        return holdCreated(path, hold);
    }
    // The user's own choice: used as it stands, through any link it is.
    HANDLE held = holdDirectory(path, 0);
    if (held == INVALID_HANDLE_VALUE) return WorkDirectoryState::notCreated;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(held, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(held);
        return WorkDirectoryState::notDirectory;
    }
    *hold = held;
    return WorkDirectoryState::ready;
}

}  // namespace

size_t buildLauncherDescriptor(unsigned char* out, size_t capacity) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
    alignas(8) unsigned char user[tokenInformationCapacity];
    DWORD filled = 0;
    size_t size = 0;
    if (GetTokenInformation(token, TokenUser, user, sizeof user, &filled)) {
        const void* sid = reinterpret_cast<const TOKEN_USER*>(user)->User.Sid;
        const size_t userSize = sidSizeWithin(sid, user, filled);
        const bool elevated =
            runsElevated(integrityLevelOf(token), sidIsLocalSystem(static_cast<const unsigned char*>(sid), userSize));
        size = buildWorkDirectoryDescriptor(static_cast<const unsigned char*>(sid), userSize, elevated, out, capacity);
    }
    CloseHandle(token);
    return size;
}

bool createPrivateDirectory(const char* path) {
    alignas(8) unsigned char descriptor[workDirectoryDescriptorCapacity];
    if (buildLauncherDescriptor(descriptor, sizeof descriptor) == 0) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return false;
    }
    SECURITY_ATTRIBUTES security = {sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    return CreateDirectoryA(path, &security) != FALSE;
}

WorkDirectoryState prepareWorkDirectory(const char* path, bool temporary, HANDLE* hold) {
    *hold = INVALID_HANDLE_VALUE;
    return temporary ? prepareTemporary(path, hold) : prepareNamed(path, hold);
}
