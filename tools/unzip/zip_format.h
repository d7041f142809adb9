// The ZIP format's numbers, read by unzip.exe and written by kestrune-medium.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "little_endian.h"

constexpr uint32_t localHeaderSignature = 0x04034b50;
constexpr uint32_t centralHeaderSignature = 0x02014b50;
constexpr uint32_t endOfCentralDirectorySignature = 0x06054b50;
constexpr uint32_t zip64EndRecordSignature = 0x06064b50;
constexpr uint32_t zip64LocatorSignature = 0x07064b50;

constexpr size_t localHeaderSize = 30;
constexpr size_t localCompressedSizeOffset = 18;  // within the local header
constexpr size_t localExtraLengthOffset = 28;
constexpr size_t centralHeaderSize = 46;
constexpr size_t endRecordSize = 22;
constexpr size_t zip64EndRecordSize = 56;  // without extensible data
constexpr size_t zip64LocatorSize = 20;

constexpr uint16_t flagEncrypted = 1u << 0;
constexpr uint16_t flagDataDescriptor = 1u << 3;
constexpr uint16_t flagStrongEncryption = 1u << 6;
constexpr uint16_t flagUtf8Name = 1u << 11;
constexpr uint16_t flagMaskedLocalHeaders = 1u << 13;

constexpr uint16_t methodStored = 0;
constexpr uint16_t methodDeflated = 8;

// Extra fields: a 2-byte id, a 2-byte length, the data.
constexpr size_t extraFieldHeaderSize = 4;
// Sizes and offset that do not fit in the headers' own fields, each 8 bytes,
// present only for a field that holds the marker, in this order:
// uncompressed size, compressed size, local header offset (then a 4-byte disk).
constexpr uint16_t zip64ExtraId = 0x0001;
// Info-ZIP's extended timestamp: a flags byte (bit 0: the modification time
// follows), then that time as 4 bytes, seconds since 1970 in UTC.
constexpr uint16_t extendedTimestampId = 0x5455;
constexpr uint8_t extendedTimestampHasModified = 1u << 0;

// What a 16- or 32-bit field holds when the value is in a zip64 record.
constexpr uint16_t zip64Marker16 = 0xffff;
constexpr uint32_t zip64Marker32 = 0xffffffffu;
// Version needed to extract an entry or archive with zip64 records.
constexpr uint16_t versionForZip64 = 45;
