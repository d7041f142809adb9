// The CRC-32 of ZIP archives (reflected, polynomial 0xEDB88320), over whole
// buffers eight bytes at a step, and the one-byte step the ZipCrypto cipher
// mixes its keys with. Portable. The tables are made on first use
// (made_once.h) rather than stored in the program: 8 KiB of unzip.exe's
// budget.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The CRC of the data that gave `crc` followed by `length` bytes at `data`;
// start with 0.
uint32_t zipCrc32(uint32_t crc, const uint8_t* data, size_t length);

// The 256 entries of the byte step: register = table[(register ^ byte) & 0xff]
// ^ (register >> 8), the register kept as it is (not inverted).
const uint32_t* zipCrcByteTable();
