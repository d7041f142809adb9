// The command tail and the switches over arbitrary command lines: the tail
// must be where the rules put it, and every switch letter must give what the
// rules say without writing past the value buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "launcher/command_tail.h"
#include "launcher/constants.h"
#include "launcher/switches.h"
#include "support/fuzz_check.h"

namespace {

constexpr unsigned char untouched = 0xA5;

size_t referenceTailOffset(const std::string& line) {
    size_t i = 0;
    if (!line.empty() && line[0] == '"') {
        const size_t close = line.find('"', 1);
        i = close == std::string::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && static_cast<unsigned char>(line[i]) > 0x20) ++i;
    }
    // `line` holds no zero byte, so everything up to 0x20 is blank or control.
    while (i < line.size() && static_cast<unsigned char>(line[i]) <= 0x20) ++i;
    return i;
}

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// -L, -l, /L, /l in that order; the first pattern found anywhere decides.
size_t referenceSwitchAt(const std::string& tail, char letter) {
    if (letter == 0) return std::string::npos;  // a text holds no zero byte, so no such switch
    for (char prefix : {'-', '/'}) {
        for (char form : {upperAscii(letter), lowerAscii(letter)}) {
            const size_t at = tail.find(std::string{prefix, form});
            if (at != std::string::npos) return at;
        }
    }
    return std::string::npos;
}

// The value runs to an unquoted space, quotes kept.
std::string referenceValueFrom(const std::string& tail, size_t start) {
    std::string value;
    bool quoted = false;
    for (size_t i = start; i < tail.size(); ++i) {
        if (tail[i] == '"') {
            quoted = !quoted;
        } else if (tail[i] == ' ' && !quoted) {
            break;
        }
        value += tail[i];
    }
    return value;
}

bool referenceSwitch(const std::string& tail, char letter, std::string& value) {
    const size_t at = referenceSwitchAt(tail, letter);
    if (at == std::string::npos) return false;
    value = referenceValueFrom(tail, at + 2);
    return true;
}

// An exactly sized heap copy, so that ASan sees any read past the terminator.
char* heapText(const std::string& text) {
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// A value buffer of exactly `capacity` bytes (one at least, so that capacity
// 0 can be checked for not writing), reused for every letter.
struct ValueBuffer {
    explicit ValueBuffer(size_t size)
        : capacity(size), allocated(size == 0 ? 1 : size), bytes(new unsigned char[allocated]) {}
    ~ValueBuffer() { delete[] bytes; }
    ValueBuffer(const ValueBuffer&) = delete;
    ValueBuffer& operator=(const ValueBuffer&) = delete;

    size_t capacity;
    size_t allocated;
    unsigned char* bytes;
};

void checkSwitch(const char* tail, const std::string& tailText, char letter, ValueBuffer& value) {
    std::string expected;
    const bool present = referenceSwitch(tailText, letter, expected);
    FUZZ_CHECK(getSwitch(tail, letter) == (present ? 1 : 0));

    std::memset(value.bytes, untouched, value.allocated);
    const int found = getSwitch(tail, letter, reinterpret_cast<char*>(value.bytes), value.capacity);
    FUZZ_CHECK(found == (present ? 1 : 0));
    if (!present || value.capacity == 0) {
        for (size_t i = 0; i < value.allocated; ++i) FUZZ_CHECK(value.bytes[i] == untouched);
    } else {
        FUZZ_CHECK(std::memchr(value.bytes, 0, value.capacity) != nullptr);
        const std::string got(reinterpret_cast<const char*>(value.bytes));
        FUZZ_CHECK(got == expected.substr(0, value.capacity - 1));
    }
}

void checkAllSwitches(const std::string& tailText, size_t smallCapacity) {
    char* tail = heapText(tailText);
    ValueBuffer path(pathBufferSize);
    ValueBuffer small(smallCapacity);
    for (int letter = 0; letter < 256; ++letter) {
        checkSwitch(tail, tailText, static_cast<char>(letter), path);
        checkSwitch(tail, tailText, static_cast<char>(letter), small);
    }
    delete[] tail;
}

// The value found in the working copy (the first 259 characters) is whole
// when the same occurrence, read from one character more, gives the same.
void checkWholeValue(const std::string& tailText, char letter) {
    const std::string working = tailText.substr(0, pathBufferSize - 1);
    const size_t at = referenceSwitchAt(working, letter);
    const std::string wider = tailText.substr(0, pathBufferSize);
    const bool whole =
        at == std::string::npos || referenceValueFrom(working, at + 2) == referenceValueFrom(wider, at + 2);
    char* tail = heapText(tailText);
    char* workingCopy = heapText(working);
    FUZZ_CHECK(switchValueIsWhole(tail, workingCopy, letter) == whole);
    delete[] workingCopy;
    delete[] tail;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A command line is a text: it ends at the first zero byte.
    const std::string line(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    char* commandLine = heapText(line);
    const char* tail = skipProgramName(commandLine);
    FUZZ_CHECK(tail >= commandLine && tail <= commandLine + line.size());
    FUZZ_CHECK(static_cast<size_t>(tail - commandLine) == referenceTailOffset(line));
    const std::string tailText(tail);
    delete[] commandLine;

    const size_t smallCapacity = size % 8;  // 0 to 7, to reach the capacity edge
    checkAllSwitches(tailText, smallCapacity);
    // The launcher looks for switches in the first 259 characters only.
    if (tailText.size() >= pathBufferSize) checkAllSwitches(tailText.substr(0, pathBufferSize - 1), smallCapacity);
    for (char letter : {'D', 'd', 'S', static_cast<char>(size > 0 ? data[0] : 0)}) checkWholeValue(tailText, letter);
    return 0;
}
