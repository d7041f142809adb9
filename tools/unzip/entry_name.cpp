#include "entry_name.h"

#include <string.h>

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool isDotOrSpaceOnly(const NameComponent& component) {
    for (size_t i = 0; i < component.length; ++i) {
        if (component.text[i] != '.' && component.text[i] != ' ') return false;
    }
    return true;
}

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether `length` bytes at `text` are `word`, ASCII case ignored.
bool equalsIgnoringCase(const char* text, size_t length, const char* word) {
    if (length != strlen(word)) return false;
    for (size_t i = 0; i < length; ++i) {
        if (upperAscii(text[i]) != word[i]) return false;
    }
    return true;
}

// Windows opens a device, not a file, for these base names, whatever the
// extension ("nul.txt" too) and case.
bool isWindowsDeviceName(const NameComponent& component) {
    size_t baseLength = 0;
    while (baseLength < component.length && component.text[baseLength] != '.') ++baseLength;
    while (baseLength > 0 && component.text[baseLength - 1] == ' ') --baseLength;
    const char* base = component.text;
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* device : devices) {
        if (equalsIgnoringCase(base, baseLength, device)) return true;
    }
    if (baseLength != 4 || (!equalsIgnoringCase(base, 3, "COM") && !equalsIgnoringCase(base, 3, "LPT"))) {
        return false;
    }
    // The superscripts 1, 2 and 3 count as port numbers too; these are their
    // bytes in the ANSI code page (1252) that the names are created with.
    const unsigned char number = static_cast<unsigned char>(base[3]);
    return (number >= '0' && number <= '9') || number == 0xb9 || number == 0xb2 || number == 0xb3;
}

bool isRefusedCharacter(char c) { return c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*'; }

}  // namespace

const char* entryNameProblem(const char* name, size_t length) {
    if (length == 0) return "empty name";
    if (isSeparator(name[0])) return "absolute path";
    for (size_t i = 0; i < length; ++i) {
        const char c = name[i];
        const unsigned char byte = static_cast<unsigned char>(c);
        // ':' would name a drive ("C:x" is relative to C:'s current
        // directory) or an NTFS stream.
        if (c == ':') return "drive letter or stream name";
        if (byte < 0x20 || byte == 0x7f) return "control character";
        if (isRefusedCharacter(c)) return "character Windows does not allow";
    }
    size_t position = 0;
    NameComponent component;
    while (nextNameComponent(name, length, position, component)) {
        if (component.length == 0) return "empty path component";
        // Covers ".." and the forms Windows trims to it ("...", ".. ").
        if (isDotOrSpaceOnly(component)) return "parent or current directory component";
        // Windows drops them, so the file would get another name than the
        // entry's, perhaps another entry's.
        const char last = component.text[component.length - 1];
        if (last == '.' || last == ' ') return "ends in a dot or a blank, which Windows drops";
        if (isWindowsDeviceName(component)) return "reserved device name";
    }
    return nullptr;
}

bool nextNameComponent(const char* name, size_t length, size_t& position, NameComponent& component) {
    if (position > length || (position == length && position > 0 && isSeparator(name[length - 1]))) return false;
    size_t end = position;
    while (end < length && !isSeparator(name[end])) ++end;
    component = NameComponent{name + position, end - position};
    position = end + 1;
    return true;
}

size_t nameComponentCount(const char* name, size_t length) {
    size_t count = 0;
    size_t position = 0;
    NameComponent component;
    while (nextNameComponent(name, length, position, component)) ++count;
    return count;
}

bool nameIsFolder(const char* name, size_t length) { return length > 0 && isSeparator(name[length - 1]); }

size_t destinationDirectoryLength(const char* destination, size_t length) {
    while (length > 1 && isSeparator(destination[length - 1]) && destination[length - 2] != ':') --length;
    return length;
}

bool joinBelow(char* out, size_t capacity, const char* directory, size_t directoryLength, const char* name,
               size_t nameLength, size_t count, char separator) {
    if (capacity < directoryLength + nameLength + 2) {
        if (capacity > 0) out[0] = 0;
        return false;
    }
    memcpy(out, directory, directoryLength);
    size_t length = directoryLength;
    size_t position = 0;
    NameComponent component;
    for (size_t i = 0; i < count && nextNameComponent(name, nameLength, position, component); ++i) {
        if (length > 0 && !isSeparator(out[length - 1])) out[length++] = separator;
        memcpy(out + length, component.text, component.length);
        length += component.length;
    }
    out[length] = 0;
    return true;
}
