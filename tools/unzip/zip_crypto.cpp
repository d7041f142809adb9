#include "zip_crypto.h"

#include "made_once.h"
#include "zip_crc.h"

// The keys of each byte depend on the byte before through two table lookups
// and two multiplications: a chain of some 30 cycles a byte as the format
// writes it, the whole of the decryption's time. The decryption below gives
// the same bytes and keys with a chain of some 22: everything that does not
// depend on the byte before is worked out beside the chain, kept out of it
// by opaque() (the compiler would otherwise fold it back in), and masks and
// bit settings come ready-made from small tables.

namespace {

constexpr uint32_t keyMultiplier = 134775813u;

// What the decryption looks up, by the index of a CRC step.
struct CipherTables {
    uint32_t crc[256];          // the CRC's byte step
    uint16_t factor[256];       // (crc | 2) & 0xffff: the keystream's factor from key2
    uint16_t otherFactor[256];  // factor ^ 1: its other factor
    uint8_t crcLow[256];        // crc & 0xff: what key1 takes of key0
};

CipherTables cipherTables;
int cipherTablesState;

void makeCipherTables() {
    const uint32_t* crc = zipCrcByteTable();
    for (int i = 0; i < 256; ++i) {
        cipherTables.crc[i] = crc[i];
        cipherTables.factor[i] = static_cast<uint16_t>((crc[i] | 2) & 0xffff);
        cipherTables.otherFactor[i] = static_cast<uint16_t>(cipherTables.factor[i] ^ 1);
        cipherTables.crcLow[i] = static_cast<uint8_t>(crc[i]);
    }
}

// Keeps the compiler from moving the computation of `value` into the chain.
inline void opaque(uint32_t& value) {
#if defined(__GNUC__)
    __asm__("" : "+r"(value));
#endif
}

// Bits 8 to 15: one instruction on x86 (the second byte register).
inline uint32_t secondByte(uint32_t value) {
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
    uint32_t byte;
    __asm__("movzbl %h1, %0" : "=r"(byte) : "Q"(value));
    return byte;
#else
    return (value >> 8) & 0xff;
#endif
}

// The format's own steps, for the password, the header and encryption.
struct Cipher {
    uint32_t key0;
    uint32_t key1;
    uint32_t key2;
    const uint32_t* table;

    explicit Cipher(const ZipCryptoKeys& keys)
        : key0(keys.key0), key1(keys.key1), key2(keys.key2), table(zipCrcByteTable()) {}

    ZipCryptoKeys keys() const { return ZipCryptoKeys{key0, key1, key2}; }

    uint8_t keystreamByte() const {
        const uint32_t temp = (key2 | 2) & 0xffff;
        return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
    }

    void update(uint8_t plainByte) {
        key0 = table[(key0 ^ plainByte) & 0xff] ^ (key0 >> 8);
        key1 = (key1 + (key0 & 0xff)) * keyMultiplier + 1;
        key2 = table[(key2 ^ (key1 >> 24)) & 0xff] ^ (key2 >> 8);
    }
};

}  // namespace

ZipCryptoKeys zipCryptoKeysForPassword(const char* password) {
    Cipher cipher(ZipCryptoKeys{0x12345678u, 0x23456789u, 0x34567890u});
    for (const char* p = password; *p != 0; ++p) cipher.update(static_cast<uint8_t>(*p));
    return cipher.keys();
}

void zipCryptoDecrypt(ZipCryptoKeys& keys, uint8_t* data, size_t length) {
    makeOnce(cipherTablesState, makeCipherTables);
    const CipherTables& tables = cipherTables;
    uint32_t key0 = keys.key0;
    uint32_t key1 = keys.key1;
    uint32_t key2 = keys.key2;
    // The keystream byte is bits 8 to 15 of factor * (factor ^ 1).
    uint32_t factor = (key2 | 2) & 0xffff;
    uint32_t otherFactor = factor ^ 1;
    for (uint8_t* end = data + length; data != end; ++data) {
        const uint32_t cipherByte = *data;
        // Beside the chain: what the byte before left.
        uint32_t key0WithCipherByte = (key0 ^ cipherByte) & 0xff;
        uint32_t key1Part = key1 * keyMultiplier + 1;
        uint32_t key2Low = key2 & 0xff;
        uint32_t key0Shifted = (key0 >> 8) & 0xff;
        opaque(key0WithCipherByte);
        opaque(key1Part);
        opaque(key2Low);
        opaque(key0Shifted);
        // The chain: keystream byte, key0's step, key1, key2's step.
        const uint32_t keystream = secondByte(factor * otherFactor);
        *data = static_cast<uint8_t>(cipherByte ^ keystream);
        const uint32_t step0 = keystream ^ key0WithCipherByte;  // (key0 ^ plain byte) & 0xff
        key0 = tables.crc[step0] ^ (key0 >> 8);
        key1 = key1Part + (tables.crcLow[step0] ^ key0Shifted) * keyMultiplier;
        const uint32_t step2 = (key1 >> 24) ^ key2Low;
        const uint32_t key2Rest = (key2 >> 8) & 0xfffd;  // bit 1 is set by the factor's table
        key2 = tables.crc[step2] ^ (key2 >> 8);
        factor = tables.factor[step2] ^ key2Rest;
        otherFactor = tables.otherFactor[step2] ^ key2Rest;
    }
    keys = ZipCryptoKeys{key0, key1, key2};
}

void zipCryptoEncrypt(ZipCryptoKeys& keys, uint8_t* data, size_t length) {
    Cipher cipher(keys);
    for (uint8_t* end = data + length; data != end; ++data) {
        const uint8_t plain = *data;
        *data = plain ^ cipher.keystreamByte();
        cipher.update(plain);
    }
    keys = cipher.keys();
}
