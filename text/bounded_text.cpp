#include "text/bounded_text.h"

size_t textLength(const char* text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

bool textsEqual(const char* a, const char* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

const char* findText(const char* haystack, const char* needle) {
    for (;; ++haystack) {
        size_t i = 0;
        while (needle[i] != 0 && haystack[i] == needle[i]) ++i;
        if (needle[i] == 0) return haystack;
        if (*haystack == 0) return nullptr;
    }
}

bool containsChar(const char* text, char c) {
    for (; *text != 0; ++text) {
        if (*text == c) return true;
    }
    return false;
}

bool copyLeadingText(char* dest, size_t capacity, const char* source) {
    if (capacity == 0) return false;
    size_t length = 0;
    while (source[length] != 0 && length + 1 < capacity) {
        dest[length] = source[length];
        ++length;
    }
    dest[length] = 0;
    return source[length] == 0;
}

void fillBytes(void* dest, unsigned char value, size_t count) {
    unsigned char* bytes = static_cast<unsigned char*>(dest);
    for (size_t i = 0; i < count; ++i) bytes[i] = value;
}

namespace {

// Writes into `dest` from `length` on; remembers whether everything fit so
// the caller can undo a partial append.
struct Writer {
    char* dest;
    size_t capacity;
    size_t length;
    bool fits;

    void put(char c) {
        if (length + 1 < capacity) {
            dest[length++] = c;
        } else {
            fits = false;
        }
    }
    void putRepeated(char c, size_t count) {
        for (size_t i = 0; i < count; ++i) put(c);
    }
};

Writer startAppend(char* dest, size_t capacity) {
    size_t length = 0;
    while (length < capacity && dest[length] != 0) ++length;
    // A buffer without a terminator is already broken: treat it as full.
    return Writer{dest, capacity, length, length < capacity};
}

bool finishAppend(Writer& writer, size_t originalLength) {
    if (!writer.fits) {
        if (originalLength < writer.capacity) writer.dest[originalLength] = 0;
        return false;
    }
    writer.dest[writer.length] = 0;
    return true;
}

}  // namespace

bool appendText(char* dest, size_t capacity, const char* source) {
    Writer writer = startAppend(dest, capacity);
    const size_t originalLength = writer.length;
    for (; writer.fits && *source != 0; ++source) writer.put(*source);
    return finishAppend(writer, originalLength);
}

bool copyText(char* dest, size_t capacity, const char* source) {
    if (capacity == 0 || textLength(source) >= capacity) return false;
    dest[0] = 0;
    return appendText(dest, capacity, source);
}

namespace {
bool appendMagnitude(char* dest, size_t capacity, bool negative, unsigned long magnitude) {
    char digits[24];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);

    Writer writer = startAppend(dest, capacity);
    const size_t originalLength = writer.length;
    if (negative) writer.put('-');
    while (count > 0) writer.put(digits[--count]);
    return finishAppend(writer, originalLength);
}
}  // namespace

bool appendDecimal(char* dest, size_t capacity, long value) {
    // Work on the magnitude as unsigned so the most negative value is safe.
    const unsigned long magnitude =
        value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    return appendMagnitude(dest, capacity, value < 0, magnitude);
}

bool appendUnsignedDecimal(char* dest, size_t capacity, unsigned long value) {
    return appendMagnitude(dest, capacity, false, value);
}

bool appendQuotedArgument(char* dest, size_t capacity, const char* text) {
    Writer writer = startAppend(dest, capacity);
    const size_t originalLength = writer.length;
    writer.put('"');
    size_t backslashes = 0;
    for (; *text != 0; ++text) {
        if (*text == '\\') {
            ++backslashes;
            continue;
        }
        if (*text == '"') {
            writer.putRepeated('\\', backslashes * 2 + 1);
        } else {
            writer.putRepeated('\\', backslashes);
        }
        backslashes = 0;
        writer.put(*text);
    }
    writer.putRepeated('\\', backslashes * 2);
    writer.put('"');
    return finishAppend(writer, originalLength);
}
