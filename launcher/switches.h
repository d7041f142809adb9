#pragma once

#include <stddef.h>

#include "launcher/constants.h"

// Tells whether the switch `letter` (behind '-' or '/', either case) occurs
// anywhere in `tail`. When `value` is given and the switch is found, the text
// behind the letter is copied into it: up to an unquoted space, quotes kept.
// At most valueCapacity - 1 characters are copied, always terminated.
int getSwitch(const char* tail, char letter, char* value, size_t valueCapacity);

// Whether the value of `letter` read from `workingCopy` (the leading part of
// `tail` that the switches are read from) is the whole value: read at the
// same place from one character more of the tail it comes out the same, so
// it did not run on past the working copy. True when the switch is absent.
bool switchValueIsWhole(const char* tail, const char* workingCopy, char letter);

inline int getSwitch(const char* tail, char letter) { return getSwitch(tail, letter, nullptr, 0); }
template <size_t N>
inline int getSwitch(const char* tail, char letter, char (&value)[N]) {
    return getSwitch(tail, letter, value, N);
}
