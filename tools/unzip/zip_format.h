// The ZIP format's numbers, read by unzip.exe and written by kestrune-medium.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "little_endian.h"

constexpr uint32_t localHeaderSignature = 0x04034b50;
constexpr uint32_t centralHeaderSignature = 0x02014b50;
constexpr uint32_t endOfCentralDirectorySignature = 0x06054b50;
constexpr uint32_t zip64LocatorSignature = 0x07064b50;

constexpr size_t localHeaderSize = 30;
constexpr size_t localCompressedSizeOffset = 18;  // within the local header
constexpr size_t centralHeaderSize = 46;
constexpr size_t endRecordSize = 22;
constexpr size_t zip64LocatorSize = 20;

constexpr uint16_t flagEncrypted = 1u << 0;
constexpr uint16_t flagDataDescriptor = 1u << 3;
constexpr uint16_t flagStrongEncryption = 1u << 6;
constexpr uint16_t flagUtf8Name = 1u << 11;
constexpr uint16_t flagMaskedLocalHeaders = 1u << 13;

constexpr uint16_t methodStored = 0;
constexpr uint16_t methodDeflated = 8;
