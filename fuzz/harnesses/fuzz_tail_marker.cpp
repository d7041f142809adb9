// Tag search in the marker window over arbitrary windows and tags, against a
// plain reading of the rule: zero bytes become '^', then a substring search
// over the first 256 bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "launcher/constants.h"
#include "launcher/tail_marker.h"
#include "support/fuzz_check.h"

namespace {

bool referenceHoldsTag(const unsigned char* bytes, size_t length, const std::string& tag) {
    std::string window(reinterpret_cast<const char*>(bytes), length < markerWindowSize ? length : markerWindowSize);
    for (char& c : window) {
        if (c == 0) c = '^';
    }
    return window.find(tag) != std::string::npos;
}

}  // namespace

// Input: one control byte, then the tag (its length from the control byte;
// a zero byte ends it early, as it would a text), then the window.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t control = data[0];
    ++data;
    --size;

    std::string tag;
    if (control & 0x80) {
        tag = msiMarkerTag;
    } else {
        const size_t tagLength = control & 0x1f;
        const size_t taken = tagLength < size ? tagLength : size;
        tag.assign(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), taken));
        data += taken;
        size -= taken;
    }
    char* heapTag = new char[tag.size() + 1];
    std::memcpy(heapTag, tag.c_str(), tag.size() + 1);

    // Exactly sized, so that a read past the window's end is an ASan report.
    unsigned char* window = new unsigned char[size];
    if (size != 0) std::memcpy(window, data, size);
    FUZZ_CHECK(windowHoldsTag(window, size, heapTag) == (referenceHoldsTag(window, size, tag) ? 1 : 0));
    delete[] window;
    delete[] heapTag;

    unsigned long fileSize = 0;
    for (size_t i = 0; i < size && i < sizeof fileSize; ++i) fileSize = (fileSize << 8) | data[i];
    const unsigned long offset = markerWindowOffset(fileSize);
    FUZZ_CHECK(offset == (fileSize > markerWindowSize ? fileSize - markerWindowSize : 0));
    FUZZ_CHECK(fileSize - offset <= markerWindowSize);
    return 0;
}
