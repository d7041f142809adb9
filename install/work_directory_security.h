// The access rules of a work directory the launcher creates, laid out as the
// platform's self-relative security descriptor. Plain C++: the Windows side
// only supplies the launcher's own user and whether it runs elevated.
//
// The descriptor: a protected access list (nothing inherited from the parent)
// granting full control to SYSTEM, the Administrators group and the
// launcher's own user, each inherited by everything below; and, when the
// launcher runs elevated, a high mandatory label that forbids writes from
// lower integrity, inherited the same way.
#pragma once

#include <stddef.h>

// The largest security identifier (15 sub-authorities).
constexpr size_t largestSidSize = 68;
// Room for the header, both lists, the three grants and the label.
constexpr size_t workDirectoryDescriptorCapacity = 256;

// Integrity levels as the platform numbers them (the label's relative id).
constexpr unsigned long highIntegrityLevel = 0x3000;

// The size of the security identifier at `sid` (8 bytes and 4 for each
// sub-authority), or 0 when `available` bytes do not hold a whole one.
size_t sidSize(const unsigned char* sid, size_t available);
// Whether the identifier is LocalSystem's (S-1-5-18).
bool sidIsLocalSystem(const unsigned char* sid, size_t size);
// Elevated: high integrity or above, or running as LocalSystem.
bool runsElevated(unsigned long integrityLevel, bool isLocalSystem);

// Writes the descriptor for `userSid` into `out`; its size, or 0 when the
// identifier is not whole or the descriptor does not fit.
size_t buildWorkDirectoryDescriptor(const unsigned char* userSid, size_t userSidSize, bool elevated, unsigned char* out,
                                    size_t capacity);
