#pragma once

#include <stddef.h>

// Whether `tag` occurs in the bytes of a marker window (the end of the
// launcher's file). Zero bytes are bridged first, so a tag that stands behind
// zero-filled data is still found. Only the first markerWindowSize bytes of a
// longer span are looked at.
int windowHoldsTag(const unsigned char* bytes, size_t length, const char* tag);

// Where the marker window of a file of `fileSize` bytes begins.
unsigned long markerWindowOffset(unsigned long fileSize);
