#include "unicode_text.h"

#include <stdint.h>

namespace {

// Code page 437 from 0x80 on.
const char16_t codePage437High[128] = {
    0x00c7, 0x00fc, 0x00e9, 0x00e2, 0x00e4, 0x00e0, 0x00e5, 0x00e7, 0x00ea, 0x00eb, 0x00e8, 0x00ef, 0x00ee,
    0x00ec, 0x00c4, 0x00c5, 0x00c9, 0x00e6, 0x00c6, 0x00f4, 0x00f6, 0x00f2, 0x00fb, 0x00f9, 0x00ff, 0x00d6,
    0x00dc, 0x00a2, 0x00a3, 0x00a5, 0x20a7, 0x0192, 0x00e1, 0x00ed, 0x00f3, 0x00fa, 0x00f1, 0x00d1, 0x00aa,
    0x00ba, 0x00bf, 0x2310, 0x00ac, 0x00bd, 0x00bc, 0x00a1, 0x00ab, 0x00bb, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255d, 0x255c, 0x255b, 0x2510, 0x2514,
    0x2534, 0x252c, 0x251c, 0x2500, 0x253c, 0x255e, 0x255f, 0x255a, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256c, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256b, 0x256a, 0x2518, 0x250c,
    0x2588, 0x2584, 0x258c, 0x2590, 0x2580, 0x03b1, 0x00df, 0x0393, 0x03c0, 0x03a3, 0x03c3, 0x00b5, 0x03c4,
    0x03a6, 0x0398, 0x03a9, 0x03b4, 0x221e, 0x03c6, 0x03b5, 0x2229, 0x2261, 0x00b1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00f7, 0x2248, 0x00b0, 0x2219, 0x00b7, 0x221a, 0x207f, 0x00b2, 0x25a0, 0x00a0};

struct UpperCaseRange {
    uint16_t first;
    uint16_t countAndStep;  // count << 1, and 1 when only every second character maps
    uint16_t delta;         // added modulo 2^16
};

const UpperCaseRange upperCaseRanges[] = {
#include "upper_case_ranges.inc"
};

}  // namespace

size_t decodeUtf8(const char* bytes, size_t length, char16_t* out) {
    size_t units = 0;
    for (size_t i = 0; i < length;) {
        const unsigned lead = static_cast<unsigned char>(bytes[i++]);
        if (lead < 0x80) {
            out[units++] = static_cast<char16_t>(lead);
            continue;
        }
        // The continuation bytes a lead byte announces, and the smallest
        // character that needs them (anything less is an overlong form).
        const size_t more = lead >= 0xf0 ? 3 : lead >= 0xe0 ? 2 : lead >= 0xc0 ? 1 : 0;
        static const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (more == 0 || lead >= 0xf8 || more > length - i) return notUtf8;
        uint32_t code = lead & (0x3fu >> more);
        for (size_t k = 0; k < more; ++k) {
            const unsigned next = static_cast<unsigned char>(bytes[i++]);
            if ((next & 0xc0) != 0x80) return notUtf8;
            code = code << 6 | (next & 0x3f);
        }
        if (code < smallest[more] || code > 0x10ffff || (code >= 0xd800 && code < 0xe000)) return notUtf8;
        if (code >= 0x10000) {
            code -= 0x10000;
            out[units++] = static_cast<char16_t>(0xd800 + (code >> 10));
            code = 0xdc00 + (code & 0x3ff);
        }
        out[units++] = static_cast<char16_t>(code);
    }
    return units;
}

size_t decodeCodePage437(const char* bytes, size_t length, char16_t* out) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        out[i] = byte < 0x80 ? char16_t{byte} : codePage437High[byte - 0x80];
    }
    return length;
}

size_t encodeUtf8(const char16_t* text, size_t length, char* out) {
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        uint32_t code = text[i];
        if (code >= 0xd800 && code < 0xe000) {
            const bool pair = code < 0xdc00 && i + 1 < length && text[i + 1] >= 0xdc00 && text[i + 1] < 0xe000;
            code = pair ? 0x10000 + ((code - 0xd800) << 10) + (text[++i] - 0xdc00) : 0xfffd;
        }
        if (code < 0x80) {
            out[used++] = static_cast<char>(code);
            continue;
        }
        const size_t more = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
        static const unsigned char leads[] = {0, 0xc0, 0xe0, 0xf0};
        out[used++] = static_cast<char>(leads[more] | code >> (6 * more));
        for (size_t k = more; k-- > 0;) out[used++] = static_cast<char>(0x80 | (code >> (6 * k) & 0x3f));
    }
    return used;
}

char16_t upperCaseOf(char16_t c) {
    // The last range that starts at or before `c`.
    size_t low = 0;
    size_t high = sizeof upperCaseRanges / sizeof upperCaseRanges[0];
    while (high - low > 1) {
        const size_t middle = (low + high) / 2;
        (upperCaseRanges[middle].first <= c ? low : high) = middle;
    }
    const UpperCaseRange& range = upperCaseRanges[low];
    const unsigned step = (range.countAndStep & 1) + 1;
    const unsigned offset = static_cast<unsigned>(c) - range.first;
    if (c < range.first || offset / step >= static_cast<unsigned>(range.countAndStep >> 1) || offset % step != 0) {
        return c;
    }
    return static_cast<char16_t>(c + range.delta);
}
