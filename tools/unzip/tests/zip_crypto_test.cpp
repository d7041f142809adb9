// The CRC and the cipher, against zlib's CRC and against themselves taken a
// piece at a time (the keys and the CRC live in registers within a call and
// must come out whole between calls).
#include "zip_crc.h"
#include "zip_crypto.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> randomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(generator());
    return bytes;
}

TEST(ZipCrc32, EqualsZlibsForEveryLengthAndAlignment) {
    const std::vector<uint8_t> bytes = randomBytes(300, 1);
    for (size_t start = 0; start < 9; ++start) {
        for (size_t length = 0; start + length <= bytes.size(); ++length) {
            const uLong expected = crc32(0, bytes.data() + start, static_cast<uInt>(length));
            ASSERT_EQ(zipCrc32(0, bytes.data() + start, length), expected) << start << " " << length;
        }
    }
}

TEST(ZipCrc32, GoesOnFromWhereAPieceEnded) {
    const std::vector<uint8_t> bytes = randomBytes(100000, 2);
    const uint32_t whole = zipCrc32(0, bytes.data(), bytes.size());
    for (size_t cut : {size_t{1}, size_t{7}, size_t{8}, size_t{4096}, size_t{99999}}) {
        const uint32_t first = zipCrc32(0, bytes.data(), cut);
        EXPECT_EQ(zipCrc32(first, bytes.data() + cut, bytes.size() - cut), whole) << cut;
    }
    EXPECT_EQ(whole, crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}

TEST(ZipCrcByteTable, IsTheTableOfZlib) {
    const uint32_t* table = zipCrcByteTable();
    const z_crc_t* zlibTable = get_crc_table();
    for (int i = 0; i < 256; ++i) ASSERT_EQ(table[i], zlibTable[i]) << i;
}

TEST(ZipCrypto, DecryptsWhatItEncryptedInAnyPieces) {
    const std::vector<uint8_t> plain = randomBytes(70000, 3);
    std::vector<uint8_t> data = plain;
    ZipCryptoKeys keys = zipCryptoKeysForPassword("secret");
    zipCryptoEncrypt(keys, data.data(), data.size());
    const ZipCryptoKeys afterEncryption = keys;
    EXPECT_NE(data, plain);

    for (size_t piece : {size_t{1}, size_t{13}, size_t{65536}, data.size()}) {
        std::vector<uint8_t> copy = data;
        ZipCryptoKeys decryption = zipCryptoKeysForPassword("secret");
        for (size_t at = 0; at < copy.size(); at += piece)
            zipCryptoDecrypt(decryption, copy.data() + at, std::min(piece, copy.size() - at));
        EXPECT_EQ(copy, plain) << piece;
        EXPECT_EQ(decryption.key0, afterEncryption.key0) << piece;
        EXPECT_EQ(decryption.key1, afterEncryption.key1) << piece;
        EXPECT_EQ(decryption.key2, afterEncryption.key2) << piece;
    }
}

// The keys of `zip -P` for a known password, as the format's description
// gives the algorithm: key0 is the CRC register of the password's bytes.
TEST(ZipCrypto, KeysForAPasswordFollowTheFormat) {
    const ZipCryptoKeys empty = zipCryptoKeysForPassword("");
    EXPECT_EQ(empty.key0, 0x12345678u);
    EXPECT_EQ(empty.key1, 0x23456789u);
    EXPECT_EQ(empty.key2, 0x34567890u);
    const ZipCryptoKeys one = zipCryptoKeysForPassword("a");
    const z_crc_t* table = get_crc_table();
    const uint32_t key0 = table[(0x12345678u ^ 'a') & 0xff] ^ (0x12345678u >> 8);
    const uint32_t key1 = (0x23456789u + (key0 & 0xff)) * 134775813u + 1;
    const uint32_t key2 = table[(0x34567890u ^ (key1 >> 24)) & 0xff] ^ (0x34567890u >> 8);
    EXPECT_EQ(one.key0, key0);
    EXPECT_EQ(one.key1, key1);
    EXPECT_EQ(one.key2, key2);
}

}  // namespace
