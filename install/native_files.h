// The file calls below Win32 through which the launcher creates, opens,
// lists and deletes: each relative to a directory handle it holds, so that
// no path is looked up a second time. ntdll has them on every NT system;
// they are looked up at run time all the same.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <stddef.h>

// The longest object name the platform reports (a UNICODE_STRING's 65534
// bytes), with its terminator.
constexpr size_t objectNameCapacity = 32768;
// A name of 255 characters and its terminator.
constexpr size_t entryNameCapacity = 256;

// NtCreateFile's dispositions and options as the launcher uses them.
constexpr ULONG openExisting = 1;                // FILE_OPEN
constexpr ULONG createNew = 2;                   // FILE_CREATE
constexpr ULONG directoryOnly = 0x00000001;      // FILE_DIRECTORY_FILE
constexpr ULONG openSynchronously = 0x00000020;  // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG fileOnly = 0x00000040;           // FILE_NON_DIRECTORY_FILE
constexpr ULONG openForBackup = 0x00004000;      // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG openLinkItself = 0x00200000;     // FILE_OPEN_REPARSE_POINT

// Statuses the launcher tells apart.
constexpr LONG statusUnsuccessful = static_cast<LONG>(0xC0000001);
constexpr LONG statusNameNotFound = static_cast<LONG>(0xC0000034);
constexpr LONG statusNameCollision = static_cast<LONG>(0xC0000035);
constexpr LONG statusNotADirectory = static_cast<LONG>(0xC0000103);
constexpr LONG statusFileIsADirectory = static_cast<LONG>(0xC00000BA);
constexpr LONG statusCannotDelete = static_cast<LONG>(0xC0000121);
constexpr LONG statusNoMoreFiles = static_cast<LONG>(0x80000006);
// An entry that is a link, or not where its name says.
constexpr LONG statusNotInPlace = static_cast<LONG>(0xC0000280);  // STATUS_REPARSE_POINT_NOT_RESOLVED

struct NativeFiles {
    using CreateCall = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, LARGE_INTEGER*, ULONG,
                                    ULONG, ULONG, ULONG, void*, ULONG);
    using QueryDirectoryCall = LONG(NTAPI*)(HANDLE, HANDLE, void*, void*, IO_STATUS_BLOCK*, void*, ULONG, int, BOOLEAN,
                                            UNICODE_STRING*, BOOLEAN);
    using SetInformationCall = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
    using QueryObjectCall = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);

    CreateCall create;
    QueryDirectoryCall queryDirectory;
    SetInformationCall setInformation;
    QueryObjectCall queryObject;

    bool complete() const {
        return create != nullptr && queryDirectory != nullptr && setInformation != nullptr && queryObject != nullptr;
    }
};
NativeFiles lookUpNativeFiles();

// Opens or creates `name` (one name, not a path) in `directory`, its letters
// compared without case. The status; `*opened` is the handle, or null.
LONG openInDirectory(const NativeFiles& calls, HANDLE directory, const wchar_t* name, size_t nameLength,
                     ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options, void* descriptor,
                     HANDLE* opened);
// A name in the ANSI code page, widened; its length, or 0 when it is empty
// or does not fit.
size_t widenName(const char* name, wchar_t (&out)[entryNameCapacity]);

// The platform's own full name of the opened entry, device or drive
// included: where it really is, whatever link led there (Wine follows links
// that Windows would open as links). False when the platform cannot say.
bool readObjectName(const NativeFiles& calls, HANDLE entry, wchar_t (&out)[objectNameCapacity]);
// Whether `entry`, opened as `name` in the directory whose object name is
// `directoryName`, stands there and is not what a link there points at: its
// own object name must be the directory's, a backslash and the name.
bool openedInPlace(const NativeFiles& calls, const wchar_t* directoryName, const wchar_t* name, HANDLE entry,
                   wchar_t (&scratch)[objectNameCapacity]);

// Opens `name` in `directory` as it stands there: never through a link, and
// only when it is not a link and stands where its name says; a directory
// when `options` hold directoryOnly, otherwise no directory. Without the
// native calls it is opened by `path`, its full path, not following a link
// at its name. The status; statusNotInPlace for a link or an entry
// elsewhere.
LONG openStanding(const NativeFiles& calls, HANDLE directory, const char* name, const char* path, ACCESS_MASK access,
                  ULONG share, ULONG options, HANDLE* opened);

// The entry's attributes, or INVALID_FILE_ATTRIBUTES.
DWORD attributesOf(HANDLE entry);
inline bool isLinkAttribute(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
inline bool isDirectoryAttribute(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Marks the entry to go when its last handle closes (a directory only when
// empty); the status.
LONG markForDeletion(const NativeFiles& calls, HANDLE entry);
