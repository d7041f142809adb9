#include "launcher/tail_marker.h"

#include "launcher/constants.h"
#include "text/bounded_text.h"

int windowHoldsTag(const unsigned char* bytes, size_t length, const char* tag) {
    if (length > markerWindowSize) length = markerWindowSize;
    char window[markerWindowSize + 1];
    for (size_t i = 0; i < length; ++i) {
        window[i] = bytes[i] == 0 ? '^' : static_cast<char>(bytes[i]);
    }
    window[length] = 0;
    return findText(window, tag) != nullptr ? 1 : 0;
}

unsigned long markerWindowOffset(unsigned long fileSize) {
    return fileSize > markerWindowSize ? fileSize - markerWindowSize : 0;
}
