// Traditional PKWARE ("ZipCrypto") decryption, as written by `zip -P`.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct ZipCryptoKeys {
    uint32_t key0;
    uint32_t key1;
    uint32_t key2;
};

// Every encrypted entry starts with this many encrypted header bytes.
constexpr size_t zipCryptoHeaderSize = 12;

ZipCryptoKeys zipCryptoKeysForPassword(const char* password);

// Decrypts `length` bytes in place, advancing the keys.
void zipCryptoDecrypt(ZipCryptoKeys& keys, uint8_t* data, size_t length);

// Encrypts in place; the inverse of zipCryptoDecrypt (for the medium builder,
// and to craft test archives with a known header).
void zipCryptoEncrypt(ZipCryptoKeys& keys, uint8_t* data, size_t length);
