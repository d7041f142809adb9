// Traditional PKWARE ("ZipCrypto") decryption, as written by `zip -P`.
#pragma once

#include <cstddef>
#include <cstdint>

struct ZipCryptoKeys {
    uint32_t key0;
    uint32_t key1;
    uint32_t key2;
};

// Every encrypted entry starts with this many encrypted header bytes.
constexpr size_t zip_crypto_header_size = 12;

ZipCryptoKeys zip_crypto_keys_for_password(const char* password);

// Decrypts `length` bytes in place, advancing the keys.
void zip_crypto_decrypt(ZipCryptoKeys& keys, uint8_t* data, size_t length);

// Encrypts in place; the inverse of zip_crypto_decrypt (used to craft test
// archives with a known header).
void zip_crypto_encrypt(ZipCryptoKeys& keys, uint8_t* data, size_t length);
