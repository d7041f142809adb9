// Little-endian numbers at given places in a byte string, as PE headers
// hold them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The `width`-byte number (at most 4) at `at`; the caller keeps it in bounds.
inline uint32_t readLittle(const std::string& bytes, size_t at, size_t width) {
    uint32_t value = 0;
    for (size_t i = width; i > 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i - 1]);
    return value;
}

inline void writeLittle(std::string& bytes, size_t at, uint32_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i) & 0xff);
}
