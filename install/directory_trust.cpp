#include "install/directory_trust.h"

#include "install/work_directory_security.h"
#include "tools/unzip/little_endian.h"

namespace {

// The descriptor's header: revision, control, and the offsets of the owner
// and of the access list.
constexpr size_t descriptorHeaderSize = 20;
constexpr size_t ownerOffsetAt = 4;
constexpr size_t accessListOffsetAt = 16;
constexpr unsigned controlSelfRelative = 0x8000;
constexpr unsigned controlAccessListPresent = 0x0004;

// An access list: revision, size and entry count, then the entries, each
// with its type, flags and size, then (for the plain kinds) the mask and the
// identifier.
constexpr size_t listHeaderSize = 8;
constexpr size_t entryHeaderSize = 8;

constexpr unsigned char inheritOnly = 0x08;
// Entries that grant with a plain identifier: allowed (0) and allowed with
// a condition (9).
constexpr unsigned char allowedEntry = 0x00;
constexpr unsigned char allowedCallbackEntry = 0x09;

// S-1-5-32-544.
constexpr unsigned char administratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};

bool sameSid(const unsigned char* sid, size_t size, const unsigned char* other, size_t otherSize) {
    const size_t length = sidSize(sid, size);
    if (length == 0 || length != sidSize(other, otherSize)) return false;
    for (size_t i = 0; i < length; ++i) {
        if (sid[i] != other[i]) return false;
    }
    return true;
}

bool isTrusted(const unsigned char* sid, size_t size, const unsigned char* userSid, size_t userSidSize) {
    return sidIsLocalSystem(sid, size) || sameSid(sid, size, administratorsSid, sizeof administratorsSid) ||
           sameSid(sid, size, userSid, userSidSize);
}

// Deny, audit and alarm entries of every kind, and the label and attribute
// entries that belong elsewhere: none of them grants anything. Any other
// kind, one not known today included, is taken to grant.
bool grantsNothing(unsigned char type) {
    return (type >= 0x01 && type <= 0x03) || (type >= 0x06 && type <= 0x13 && type != 0x09 && type != 0x0B);
}

}  // namespace

bool entryLetsOthersChange(const AccessEntry& entry, const unsigned char* userSid, size_t userSidSize) {
    if ((entry.flags & inheritOnly) != 0 || grantsNothing(entry.type)) return false;
    if ((entry.mask & directoryChangeRights) == 0) return false;
    return entry.sid == nullptr || !isTrusted(entry.sid, entry.sidSize, userSid, userSidSize);
}

DirectoryTrust judgeExistingDirectory(const unsigned char* descriptor, size_t size, const unsigned char* userSid,
                                      size_t userSidSize, bool volumeKeepsAccessLists) {
    if (!volumeKeepsAccessLists) return DirectoryTrust::noAccessLists;
    if (descriptor == nullptr || size < descriptorHeaderSize ||
        (readLittle16(descriptor, 2) & controlSelfRelative) == 0) {
        return DirectoryTrust::unreadable;
    }
    const size_t ownerAt = readLittle32(descriptor, ownerOffsetAt);
    if (ownerAt == 0) return DirectoryTrust::foreignOwner;
    if (ownerAt >= size || sidSize(descriptor + ownerAt, size - ownerAt) == 0) return DirectoryTrust::unreadable;
    if (!isTrusted(descriptor + ownerAt, size - ownerAt, userSid, userSidSize)) return DirectoryTrust::foreignOwner;

    // No list, or a list that is absent (NULL): everyone may do everything.
    const size_t listAt = readLittle32(descriptor, accessListOffsetAt);
    if ((readLittle16(descriptor, 2) & controlAccessListPresent) == 0 || listAt == 0) {
        return DirectoryTrust::othersMayChange;
    }
    if (listAt > size - listHeaderSize) return DirectoryTrust::unreadable;
    const size_t listSize = readLittle16(descriptor, listAt + 2);
    const size_t count = readLittle16(descriptor, listAt + 4);
    if (listSize < listHeaderSize || listSize > size - listAt) return DirectoryTrust::unreadable;
    const unsigned char* list = descriptor + listAt;
    size_t entryAt = listHeaderSize;
    for (size_t i = 0; i < count; ++i) {
        if (listSize - entryAt < entryHeaderSize) return DirectoryTrust::unreadable;
        const size_t entrySize = readLittle16(list, entryAt + 2);
        if (entrySize < entryHeaderSize || entrySize > listSize - entryAt) return DirectoryTrust::unreadable;
        AccessEntry entry = {list[entryAt], list[entryAt + 1], readLittle32(list, entryAt + 4), nullptr, 0};
        if (entry.type == allowedEntry || entry.type == allowedCallbackEntry) {
            entry.sid = list + entryAt + entryHeaderSize;
            entry.sidSize = entrySize - entryHeaderSize;
            if (sidSize(entry.sid, entry.sidSize) == 0) return DirectoryTrust::unreadable;
        }
        if (entryLetsOthersChange(entry, userSid, userSidSize)) return DirectoryTrust::othersMayChange;
        entryAt += entrySize;
    }
    return DirectoryTrust::trusted;
}
