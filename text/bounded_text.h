// Bounded text helpers: every copy or append says whether it fit, and a text
// that does not fit is never cut or written past its buffer; the caller
// decides what to do. Plain C++ with no runtime library calls, so the launcher
// needs nothing beyond the system DLLs and the same code builds on Linux.
#pragma once

#include <stddef.h>

size_t textLength(const char* text);
bool textsEqual(const char* a, const char* b);
// Position of the first occurrence of `needle` in `haystack`, or null.
const char* findText(const char* haystack, const char* needle);
bool containsChar(const char* text, char c);

// Replaces `dest` with `source`; on overflow `dest` is left unchanged.
bool copyText(char* dest, size_t capacity, const char* source);
// Copies as much of `source` as fits; returns whether all of it did.
bool copyLeadingText(char* dest, size_t capacity, const char* source);
// Appends `source` to `dest`; on overflow `dest` is left unchanged.
bool appendText(char* dest, size_t capacity, const char* source);
// Appends a signed decimal number.
bool appendDecimal(char* dest, size_t capacity, long value);
bool appendUnsignedDecimal(char* dest, size_t capacity, unsigned long value);
// Appends `text` as one argument in double quotes, so that the platform's
// argument rules give back `text` exactly: quotes inside are escaped and any
// run of backslashes before a quote (or before the closing quote) is doubled.
bool appendQuotedArgument(char* dest, size_t capacity, const char* text);

void fillBytes(void* dest, unsigned char value, size_t count);

// Overloads for fixed arrays, so the capacity always comes from the type.
template <size_t N>
inline bool copyText(char (&dest)[N], const char* source) {
    return copyText(dest, N, source);
}
template <size_t N>
inline bool copyLeadingText(char (&dest)[N], const char* source) {
    return copyLeadingText(dest, N, source);
}
template <size_t N>
inline bool appendText(char (&dest)[N], const char* source) {
    return appendText(dest, N, source);
}
template <size_t N>
inline bool appendDecimal(char (&dest)[N], long value) {
    return appendDecimal(dest, N, value);
}
template <size_t N>
inline bool appendUnsignedDecimal(char (&dest)[N], unsigned long value) {
    return appendUnsignedDecimal(dest, N, value);
}
template <size_t N>
inline bool appendQuotedArgument(char (&dest)[N], const char* text) {
    return appendQuotedArgument(dest, N, text);
}
template <size_t N>
inline void clearText(char (&dest)[N]) {
    fillBytes(dest, 0, N);
}
