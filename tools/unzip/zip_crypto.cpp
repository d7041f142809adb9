#include "zip_crypto.h"

#include "zip_crc.h"

// Each byte's keys depend on the byte before, through two table lookups and
// two multiplications: a chain no compiler can shorten. What is left is to
// keep it free of anything else: the keys and the table live in registers for
// the whole buffer (a key kept behind a reference would be stored and loaded
// again for every byte, since the data written might alias it).

namespace {

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
        key1 = (key1 + (key0 & 0xff)) * 134775813u + 1;
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
    Cipher cipher(keys);
    for (uint8_t* end = data + length; data != end; ++data) {
        const uint8_t plain = *data ^ cipher.keystreamByte();
        *data = plain;
        cipher.update(plain);
    }
    keys = cipher.keys();
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
