// Reading DER, the encoding of signatures and certificates: elements
// (tag, length, content) within bounds, never past them. Portable, and
// fuzzed with the files that hold it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint8_t derBoolean = 0x01;
constexpr uint8_t derInteger = 0x02;
constexpr uint8_t derBitString = 0x03;
constexpr uint8_t derOctetString = 0x04;
constexpr uint8_t derOid = 0x06;
constexpr uint8_t derUtcTime = 0x17;
constexpr uint8_t derGeneralizedTime = 0x18;
constexpr uint8_t derSequence = 0x30;
constexpr uint8_t derSet = 0x31;

// One DER element within `bytes`.
struct Tlv {
    uint8_t tag = 0;
    size_t start = 0;
    size_t contentStart = 0;
    size_t end = 0;
};

// Reads the element at `at`, which must end by `limit`. Only definite
// lengths (DER) and low tag numbers, which is all signatures and
// certificates use.
bool readTlv(const std::string& bytes, size_t at, size_t limit, Tlv& tlv);
// The elements that make up `parent`'s content, in order; false when they
// do not fill it exactly.
bool childrenOf(const std::string& bytes, const Tlv& parent, std::vector<Tlv>& children);
// The content bytes of `tlv`.
std::string contentOf(const std::string& bytes, const Tlv& tlv);
// An object identifier's content in dotted form ("2.5.29.37"); "" when it
// is malformed or an arc exceeds 64 bits.
std::string oidText(const std::string& content);
