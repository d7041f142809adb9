// Little-endian numbers at given places in a byte string, as ZIP and PE
// headers hold them. Header only and free of the C++ library, for unzip.exe,
// which links no runtime.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The 2-, 4- and 8-byte little-endian numbers at `at` in `bytes`, a pointer, an
// array or a string; the caller keeps them in bounds. Without a loop, so the
// compiler makes one load of each (the CRC reads every byte it checks
// through readLittle32).
template <typename Bytes>
inline uint16_t readLittle16(const Bytes& bytes, size_t at) {
    const auto* p = &bytes[at];
    return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) | static_cast<uint8_t>(p[1]) << 8);
}

template <typename Bytes>
inline uint32_t readLittle32(const Bytes& bytes, size_t at) {
    const auto* p = &bytes[at];
    return static_cast<uint32_t>(static_cast<uint8_t>(p[0])) | static_cast<uint32_t>(static_cast<uint8_t>(p[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(p[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(p[3])) << 24;
}

template <typename Bytes>
inline uint64_t readLittle64(const Bytes& bytes, size_t at) {
    return uint64_t{readLittle32(bytes, at)} | uint64_t{readLittle32(bytes, at + 4)} << 32;
}

// Stores `value` as a `width`-byte little-endian number at `at` in `bytes`.
template <typename Bytes>
void writeLittle(Bytes& bytes, size_t at, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i) & 0xff);
}

// Appends `value` as a `width`-byte little-endian number to `bytes`, a string
// or a vector.
template <typename Bytes>
void appendLittle(Bytes& bytes, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i) & 0xff));
}
