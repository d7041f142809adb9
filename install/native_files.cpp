#include "install/native_files.h"

#include "install/entry_position.h"
#include "launcher/system_functions.h"
#include "text/bounded_text.h"

namespace {
constexpr ULONG caseInsensitive = 0x00000040;  // OBJ_CASE_INSENSITIVE
constexpr int fileDispositionInformation = 13;
constexpr int objectNameInformation = 1;
}  // namespace

NativeFiles lookUpNativeFiles() {
    return {
        lookUpSystemFunctionAs<NativeFiles::CreateCall>(nativeModule, "NtCreateFile"),
        lookUpSystemFunctionAs<NativeFiles::QueryDirectoryCall>(nativeModule, "NtQueryDirectoryFile"),
        lookUpSystemFunctionAs<NativeFiles::SetInformationCall>(nativeModule, "NtSetInformationFile"),
        lookUpSystemFunctionAs<NativeFiles::QueryObjectCall>(nativeModule, "NtQueryObject"),
    };
}

LONG openInDirectory(const NativeFiles& calls, HANDLE directory, const wchar_t* name, size_t nameLength,
                     ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options, void* descriptor,
                     HANDLE* opened) {
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
    attributes.SecurityDescriptor = descriptor;
    IO_STATUS_BLOCK status;
    *opened = nullptr;
    const LONG result = calls.create(opened, access, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                                     disposition, options, nullptr, 0);
    if (result < 0) *opened = nullptr;
    return result;
}

size_t widenName(const char* name, wchar_t (&out)[entryNameCapacity]) {
    const int length = MultiByteToWideChar(CP_ACP, 0, name, -1, out, entryNameCapacity);
    return length > 1 ? static_cast<size_t>(length - 1) : 0;
}

bool readObjectName(const NativeFiles& calls, HANDLE entry, wchar_t (&out)[objectNameCapacity]) {
    // The name comes behind its UNICODE_STRING, in the same buffer; it is
    // moved to the front and ended.
    constexpr size_t headerLength = sizeof(UNICODE_STRING) / sizeof(wchar_t);
    ULONG returned = 0;
    const LONG status = calls.queryObject(entry, objectNameInformation, out, sizeof out, &returned);
    const UNICODE_STRING name = *reinterpret_cast<const UNICODE_STRING*>(out);
    const size_t length = name.Length / sizeof(wchar_t);
    out[0] = 0;
    if (status < 0 || name.Buffer < out + headerLength || name.Buffer + length >= out + objectNameCapacity) {
        return false;
    }
    const wchar_t* from = name.Buffer;
    for (size_t i = 0; i < length; ++i) out[i] = from[i];
    out[length] = 0;
    return length != 0;
}

bool openedInPlace(const NativeFiles& calls, const wchar_t* directoryName, const wchar_t* name, HANDLE entry,
                   wchar_t (&scratch)[objectNameCapacity]) {
    return readObjectName(calls, entry, scratch) && standsInPlace(directoryName, name, scratch);
}

DWORD attributesOf(HANDLE entry) {
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(entry, &information) ? information.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

LONG markForDeletion(const NativeFiles& calls, HANDLE entry) {
    BOOLEAN deleteFile = TRUE;
    IO_STATUS_BLOCK status;
    return calls.setInformation(entry, &status, &deleteFile, sizeof deleteFile, fileDispositionInformation);
}

LONG openStanding(const NativeFiles& calls, HANDLE directory, const char* name, const char* path, ACCESS_MASK access,
                  ULONG share, ULONG options, HANDLE* opened) {
    wchar_t wideName[entryNameCapacity];
    const size_t nameLength = widenName(name, wideName);
    if (nameLength == 0) return statusUnsuccessful;
    if (calls.complete()) {
        const LONG status =
            openInDirectory(calls, directory, wideName, nameLength, access, share, openExisting,
                            options | openLinkItself | openForBackup | openSynchronously, nullptr, opened);
        if (status < 0) return status;
    } else {
        *opened = CreateFileA(path, access, share, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (*opened == INVALID_HANDLE_VALUE) {
            *opened = nullptr;
            return GetLastError() == ERROR_FILE_NOT_FOUND ? statusNameNotFound : statusUnsuccessful;
        }
    }
    const DWORD attributes = attributesOf(*opened);
    wchar_t directoryName[objectNameCapacity];
    wchar_t entryName[objectNameCapacity];
    LONG status = 0;
    if (attributes == INVALID_FILE_ATTRIBUTES || isLinkAttribute(attributes) ||
        (calls.complete() && !(readObjectName(calls, directory, directoryName) &&
                               openedInPlace(calls, directoryName, wideName, *opened, entryName)))) {
        status = statusNotInPlace;
    } else if (isDirectoryAttribute(attributes) != ((options & directoryOnly) != 0)) {
        status = statusNotADirectory;
    }
    if (status < 0) {
        CloseHandle(*opened);
        *opened = nullptr;
    }
    return status;
}
