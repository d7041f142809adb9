// Names as Windows spells them: UTF-16. The conversions from what archives
// hold (UTF-8, or the IBM PC's code page 437) and back to UTF-8 for hosts,
// and the upper case Windows compares names in. Portable, on plain arrays.
#pragma once

#include <stddef.h>

// decodeUtf8's result for bytes that are not UTF-8.
constexpr size_t notUtf8 = ~size_t{0};

// Decodes `length` bytes of strict UTF-8 into `out` (room for `length`
// units); returns the number of UTF-16 units, or notUtf8 for anything that
// is not UTF-8: a stray or missing continuation byte, an overlong form, a
// surrogate, a character past U+10FFFF.
size_t decodeUtf8(const char* bytes, size_t length, char16_t* out);

// Decodes bytes of code page 437, the IBM PC's, into `out` (room for
// `length` units); returns `length`. What Info-ZIP and hosts without a
// Windows OEM code page read names without the UTF-8 flag in.
size_t decodeCodePage437(const char* bytes, size_t length, char16_t* out);

// Encodes `length` UTF-16 units as UTF-8 into `out` (room for 3 * `length`
// bytes); returns the number of bytes. A lone surrogate becomes U+FFFD.
size_t encodeUtf8(const char16_t* text, size_t length, char* out);

// The character's simple upper case (Unicode's, in the Basic Multilingual
// Plane), as Windows' own table folds names: "é" gives "É", "ς" and "σ" give
// "Σ"; a surrogate, and a character without one, is itself.
char16_t upperCaseOf(char16_t c);
