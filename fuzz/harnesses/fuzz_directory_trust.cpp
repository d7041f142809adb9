// judgeExistingDirectory over any descriptor bytes. The first byte chooses
// whether the volume keeps access lists (bit 0) and who runs the launcher
// (bit 1: Wine's user, else a Windows user); the rest is the descriptor. It
// never reads outside the descriptor (the sanitizers watch), and a trusted
// verdict always comes from a volume with access lists, a descriptor that
// names an owner and holds an access list that is not NULL.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "install/directory_trust.h"
#include "support/fuzz_check.h"

namespace {
const unsigned char wineUser[] = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0,    0, 0, 0,
                                  0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0xE8, 3, 0, 0};
const unsigned char windowsUser[] = {1,    5,    0,    0,    0,    0,    0,    5,    21,   0,    0,    0,    0xDC, 0x5C,
                                     0xDD, 0x3B, 0x83, 0x3D, 0x2B, 0x46, 0x82, 0x8B, 0xA6, 0x28, 0xE9, 0x03, 0,    0};

unsigned read32(const std::vector<unsigned char>& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<unsigned>(bytes[at + 3]) << 24;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool keepsLists = (data[0] & 1) != 0;
    const unsigned char* user = (data[0] & 2) != 0 ? wineUser : windowsUser;
    // An exact copy, so that a read past its end is caught.
    const std::vector<unsigned char> descriptor(data + 1, data + size);
    const DirectoryTrust trust = judgeExistingDirectory(descriptor.empty() ? nullptr : descriptor.data(),
                                                        descriptor.size(), user, 28, keepsLists);
    if (trust == DirectoryTrust::trusted) {
        FUZZ_CHECK(keepsLists);
        FUZZ_CHECK(descriptor.size() >= 20);
        FUZZ_CHECK(read32(descriptor, 4) != 0);
        FUZZ_CHECK((descriptor[2] & 0x04) != 0 && read32(descriptor, 16) != 0);
    }
    return 0;
}
