// Little-endian numbers at given places in a byte string, as ZIP and PE
// headers hold them. Header only and free of the C++ library, for unzip.exe,
// which links no runtime.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The `width`-byte little-endian number (at most 4) at `at` in `bytes`, a
// pointer, an array or a string; the caller keeps it in bounds.
template <typename Bytes>
uint32_t readLittle(const Bytes& bytes, size_t at, size_t width) {
    uint32_t value = 0;
    for (size_t i = width; i > 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i - 1]);
    return value;
}

// Stores `value` as a `width`-byte little-endian number at `at` in `bytes`.
template <typename Bytes>
void writeLittle(Bytes& bytes, size_t at, uint32_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i) & 0xff);
}

// Appends `value` as a `width`-byte little-endian number to `bytes`, a string
// or a vector.
template <typename Bytes>
void appendLittle(Bytes& bytes, uint32_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i) & 0xff));
}
