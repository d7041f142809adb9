#include "zip_crc.h"

#include "little_endian.h"
#include "made_once.h"

namespace {

constexpr uint32_t polynomial = 0xedb88320u;

// Table 0 is the byte step; table k advances a byte that lies k bytes
// further back, so that eight bytes take one lookup each.
using CrcTables = uint32_t[8][256];

CrcTables tables;
int tablesState;

void makeCrcTables() {
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? polynomial ^ (crc >> 1) : crc >> 1;
        tables[0][byte] = crc;
    }
    for (int slice = 1; slice < 8; ++slice) {
        for (uint32_t byte = 0; byte < 256; ++byte) {
            const uint32_t previous = tables[slice - 1][byte];
            tables[slice][byte] = (previous >> 8) ^ tables[0][previous & 0xff];
        }
    }
}

const CrcTables& crcTables() {
    makeOnce(tablesState, makeCrcTables);
    return tables;
}

}  // namespace

uint32_t zipCrc32(uint32_t crc, const uint8_t* data, size_t length) {
    const CrcTables& t = crcTables();
    crc = ~crc;
    for (; length >= 8; data += 8, length -= 8) {
        const uint32_t low = crc ^ readLittle32(data, 0);
        const uint32_t high = readLittle32(data, 4);
        crc = t[7][low & 0xff] ^ t[6][(low >> 8) & 0xff] ^ t[5][(low >> 16) & 0xff] ^ t[4][low >> 24] ^
              t[3][high & 0xff] ^ t[2][(high >> 8) & 0xff] ^ t[1][(high >> 16) & 0xff] ^ t[0][high >> 24];
    }
    for (; length > 0; ++data, --length) crc = t[0][(crc ^ *data) & 0xff] ^ (crc >> 8);
    return ~crc;
}

const uint32_t* zipCrcByteTable() { return crcTables()[0]; }
