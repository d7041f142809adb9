// Whether a directory the launcher did not create may be its work directory:
// only when nobody but SYSTEM, the Administrators and the launcher's own user
// can change it. Plain C++ over the platform's self-relative security
// descriptor; the Windows side reads the descriptor of the directory it holds.
#pragma once

#include <stddef.h>

// The rights that change a directory: adding a file or a folder to it,
// deleting its entries or the directory itself, changing its access list or
// its owner, directly or through the generic rights.
constexpr unsigned long directoryChangeRights = 0x00000002 |  // FILE_ADD_FILE
                                                0x00000004 |  // FILE_ADD_SUBDIRECTORY
                                                0x00000040 |  // FILE_DELETE_CHILD
                                                0x00010000 |  // DELETE
                                                0x00040000 |  // WRITE_DAC
                                                0x00080000 |  // WRITE_OWNER
                                                0x10000000 |  // GENERIC_ALL
                                                0x40000000;   // GENERIC_WRITE

// One entry of an access list, as it stands in a descriptor.
struct AccessEntry {
    unsigned char type;
    unsigned char flags;
    unsigned long mask;
    const unsigned char* sid;  // null where the entry's kind puts its identifier elsewhere
    size_t sidSize;
};

// Whether `entry` lets anyone but SYSTEM, the Administrators and the user
// `userSid` change the directory it stands on. Entries that only pass down
// to what is created below (inherit-only) do not count, and neither do
// entries that deny or audit. An entry of a kind that grants access without
// a plain identifier counts as someone else's.
bool entryLetsOthersChange(const AccessEntry& entry, const unsigned char* userSid, size_t userSidSize);

enum class DirectoryTrust {
    trusted,          // only SYSTEM, the Administrators and the user can change it
    foreignOwner,     // its owner is someone else, or it has none
    othersMayChange,  // its access list lets someone else change it; a missing list lets everyone
    noAccessLists,    // its file system keeps no access lists (FAT, exFAT): everyone's
    unreadable,       // the descriptor is not whole
};

// `descriptor`: self-relative, with at least its owner and access list, as
// GetKernelObjectSecurity gives it. `volumeKeepsAccessLists`: whether the
// directory's file system keeps access lists at all.
DirectoryTrust judgeExistingDirectory(const unsigned char* descriptor, size_t size, const unsigned char* userSid,
                                      size_t userSidSize, bool volumeKeepsAccessLists);
