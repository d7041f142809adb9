#include "install/work_directory_security.h"

namespace {

// The fixed parts, in the order they are laid out. Numbers are little-endian.
// Header: revision 1; control (self-relative 0x8000, access list protected
// 0x1000 and present 0x0004, label list present 0x0010 when elevated); no
// owner or group (the platform's defaults); the two lists' offsets.
constexpr unsigned char descriptorHeader[] = {1, 0, 0x04, 0x90, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr size_t controlOffset = 2;
constexpr unsigned char controlLabelPresent = 0x10;
constexpr size_t labelListOffset = 12;
constexpr size_t accessListOffset = 16;

// The label list: list header (revision 2, size 28, one entry), then a
// mandatory label entry (type 0x11, inherited by files and directories 0x03,
// size 20, no write up 0x1) for High Mandatory Level, S-1-16-12288.
constexpr unsigned char labelList[] = {2, 0, 28, 0, 1, 0, 0, 0, 0x11, 0x03, 20,   0,    1, 0,
                                       0, 0, 1,  1, 0, 0, 0, 0, 0,    16,   0x00, 0x30, 0, 0};
// The access list's header (revision 2; size patched; three entries) and its
// first two entries: allowed (type 0, inherited 0x03), full control of files
// 0x001F01FF, for SYSTEM (S-1-5-18) and Administrators (S-1-5-32-544).
constexpr unsigned char accessListStart[] = {
    2, 0,    0,  0, 3,    0,    0,    0,                                       //
    0, 0x03, 20, 0, 0xFF, 0x01, 0x1F, 0, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0,  //
    0, 0x03, 24, 0, 0xFF, 0x01, 0x1F, 0, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
constexpr size_t accessListSizeOffset = 2;
// The third entry's header; its size is patched, the user's identifier follows.
constexpr unsigned char userEntryStart[] = {0, 0x03, 0, 0, 0xFF, 0x01, 0x1F, 0};
constexpr size_t entrySizeOffset = 2;

constexpr unsigned char localSystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};

struct Writer {
    unsigned char* out;
    size_t length;
    void put(const unsigned char* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) out[length++] = bytes[i];
    }
    void put16(size_t at, size_t value) {
        out[at] = static_cast<unsigned char>(value & 0xFF);
        out[at + 1] = static_cast<unsigned char>(value >> 8);
    }
};

}  // namespace

size_t sidSize(const unsigned char* sid, size_t available) {
    if (sid == nullptr || available < 8 || sid[0] != 1 || sid[1] > 15) return 0;
    const size_t size = 8 + 4 * static_cast<size_t>(sid[1]);
    return size <= available ? size : 0;
}

bool sidIsLocalSystem(const unsigned char* sid, size_t size) {
    if (sidSize(sid, size) != sizeof localSystemSid) return false;
    for (size_t i = 0; i < sizeof localSystemSid; ++i) {
        if (sid[i] != localSystemSid[i]) return false;
    }
    return true;
}

bool runsElevated(unsigned long integrityLevel, bool isLocalSystem) {
    return isLocalSystem || integrityLevel >= highIntegrityLevel;
}

size_t buildWorkDirectoryDescriptor(const unsigned char* userSid, size_t userSidSize, bool elevated, unsigned char* out,
                                    size_t capacity) {
    const size_t userLength = sidSize(userSid, userSidSize);
    const size_t total = sizeof descriptorHeader + (elevated ? sizeof labelList : 0) + sizeof accessListStart +
                         sizeof userEntryStart + userLength;
    if (userLength == 0 || out == nullptr || total > capacity) return 0;
    Writer writer = {out, 0};
    writer.put(descriptorHeader, sizeof descriptorHeader);
    if (elevated) {
        out[controlOffset] |= controlLabelPresent;
        out[labelListOffset] = static_cast<unsigned char>(writer.length);
        writer.put(labelList, sizeof labelList);
    }
    const size_t accessList = writer.length;
    out[accessListOffset] = static_cast<unsigned char>(accessList);
    writer.put(accessListStart, sizeof accessListStart);
    const size_t userEntry = writer.length;
    writer.put(userEntryStart, sizeof userEntryStart);
    writer.put(userSid, userLength);
    writer.put16(userEntry + entrySizeOffset, writer.length - userEntry);
    writer.put16(accessList + accessListSizeOffset, writer.length - accessList);
    return writer.length;
}
