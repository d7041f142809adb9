#include "launcher/switches.h"

#include "text/bounded_text.h"

namespace {

char toUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char toLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The first of -L, -l, /L, /l that occurs decides, at its first occurrence,
// even when a later pattern stands earlier in the tail.
const char* findSwitch(const char* tail, char letter) {
    // A zero letter would leave the bare prefix as the pattern, and the value
    // would then be read from past the end of the tail.
    if (letter == 0) return nullptr;
    const char prefixes[2] = {'-', '/'};
    const char letters[2] = {toUpperAscii(letter), toLowerAscii(letter)};
    for (char prefix : prefixes) {
        for (char form : letters) {
            const char pattern[3] = {prefix, form, 0};
            const char* found = findText(tail, pattern);
            if (found != nullptr) return found;
        }
    }
    return nullptr;
}

void copySwitchValue(const char* start, char* value, size_t capacity) {
    size_t length = 0;
    bool insideQuotes = false;
    for (const char* p = start; *p != 0 && length + 1 < capacity; ++p) {
        if (*p == '"') {
            insideQuotes = !insideQuotes;
        } else if (*p == ' ' && !insideQuotes) {
            break;
        }
        value[length++] = *p;
    }
    value[length] = 0;
}

}  // namespace

int getSwitch(const char* tail, char letter, char* value, size_t valueCapacity) {
    const char* found = findSwitch(tail, letter);
    if (found == nullptr) return 0;
    if (value != nullptr && valueCapacity > 0) copySwitchValue(found + 2, value, valueCapacity);
    return 1;
}

bool switchValueIsWhole(const char* tail, const char* workingCopy, char letter) {
    const char* found = findSwitch(workingCopy, letter);
    if (found == nullptr) return true;
    // The same occurrence in both copies: a pattern that only the wider copy
    // holds may stand before it there.
    const size_t valueStart = static_cast<size_t>(found - workingCopy) + 2;
    char widerCopy[pathBufferSize + 1];
    copyLeadingText(widerCopy, tail);
    char value[pathBufferSize + 1];
    char widerValue[pathBufferSize + 1];
    copySwitchValue(workingCopy + valueStart, value, sizeof value);
    copySwitchValue(widerCopy + valueStart, widerValue, sizeof widerValue);
    return textsEqual(value, widerValue);
}
