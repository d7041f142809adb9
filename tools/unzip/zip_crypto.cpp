#include "zip_crypto.h"

#include <zlib.h>

namespace {

// One byte step of the CRC-32 that the cipher mixes its keys with.
uint32_t crc32_byte(uint32_t crc, uint8_t byte)
{
    static const z_crc_t* const table = get_crc_table();
    return static_cast<uint32_t>(table[(crc ^ byte) & 0xff]) ^ (crc >> 8);
}

void update_keys(ZipCryptoKeys& keys, uint8_t plain_byte)
{
    keys.key0 = crc32_byte(keys.key0, plain_byte);
    keys.key1 = (keys.key1 + (keys.key0 & 0xff)) * 134775813u + 1;
    keys.key2 = crc32_byte(keys.key2, static_cast<uint8_t>(keys.key1 >> 24));
}

uint8_t keystream_byte(const ZipCryptoKeys& keys)
{
    const uint32_t temp = (keys.key2 | 2) & 0xffff;
    return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
}

} // namespace

ZipCryptoKeys zip_crypto_keys_for_password(const char* password)
{
    ZipCryptoKeys keys{0x12345678u, 0x23456789u, 0x34567890u};
    for (const char* p = password; *p != '\0'; ++p)
        update_keys(keys, static_cast<uint8_t>(*p));
    return keys;
}

void zip_crypto_decrypt(ZipCryptoKeys& keys, uint8_t* data, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        data[i] ^= keystream_byte(keys);
        update_keys(keys, data[i]);
    }
}

void zip_crypto_encrypt(ZipCryptoKeys& keys, uint8_t* data, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        const uint8_t plain = data[i];
        data[i] ^= keystream_byte(keys);
        update_keys(keys, plain);
    }
}
