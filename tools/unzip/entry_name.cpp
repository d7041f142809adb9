#include "entry_name.h"

#include <string.h>

#include "zip_format.h"

namespace {

bool isDotOrSpaceOnly(const NameComponent& component) {
    for (size_t i = 0; i < component.length; ++i) {
        if (component.text[i] != '.' && component.text[i] != ' ') return false;
    }
    return true;
}

char16_t upperAscii(char16_t c) { return c >= 'a' && c <= 'z' ? static_cast<char16_t>(c - 'a' + 'A') : c; }

// Whether `length` units at `text` are `word`, ASCII case ignored.
bool equalsIgnoringCase(const char16_t* text, size_t length, const char* word) {
    if (length != strlen(word)) return false;
    for (size_t i = 0; i < length; ++i) {
        if (upperAscii(text[i]) != static_cast<unsigned char>(word[i])) return false;
    }
    return true;
}

// Windows opens a device, not a file, for these base names, whatever the
// extension ("nul.txt" too) and case.
bool isWindowsDeviceName(const NameComponent& component) {
    size_t baseLength = 0;
    while (baseLength < component.length && component.text[baseLength] != '.') ++baseLength;
    while (baseLength > 0 && component.text[baseLength - 1] == ' ') --baseLength;
    const char16_t* base = component.text;
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* device : devices) {
        if (equalsIgnoringCase(base, baseLength, device)) return true;
    }
    if (baseLength != 4 || (!equalsIgnoringCase(base, 3, "COM") && !equalsIgnoringCase(base, 3, "LPT"))) {
        return false;
    }
    // The superscripts 1, 2 and 3 count as port numbers too.
    const char16_t number = base[3];
    return (number >= '0' && number <= '9') || number == 0xb9 || number == 0xb2 || number == 0xb3;
}

bool isRefusedCharacter(char16_t c) { return c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*'; }

}  // namespace

size_t decodeEntryName(const ZipEntry& entry, OemNameDecoder oem, char16_t* out) {
    if (entry.flags & flagUtf8Name) return decodeUtf8(entry.name, entry.nameLength, out);
    return entry.nameLength == 0 ? 0 : oem(entry.name, entry.nameLength, out);
}

const char* undecodableNameProblem(const ZipEntry& entry) {
    return (entry.flags & flagUtf8Name) ? "name marked as UTF-8 is not valid UTF-8"
                                        : "name is not valid in the OEM code page";
}

const char* entryNameProblem(const char16_t* name, size_t length) {
    if (length == 0) return "empty name";
    if (isNameSeparator(name[0])) return "absolute path";
    for (size_t i = 0; i < length; ++i) {
        const char16_t c = name[i];
        // ':' would name a drive ("C:x" is relative to C:'s current
        // directory) or an NTFS stream.
        if (c == ':') return "drive letter or stream name";
        if (c < 0x20 || c == 0x7f) return "control character";
        if (isRefusedCharacter(c)) return "character Windows does not allow";
    }
    const bool folder = nameIsFolder(name, length);
    const size_t count = nameComponentCount(name, length);
    size_t position = 0;
    NameComponent component;
    for (size_t index = 1; nextNameComponent(name, length, position, component); ++index) {
        if (component.length == 0) return "empty path component";
        // Covers ".." and the forms Windows trims to it ("...", ".. ").
        if (isDotOrSpaceOnly(component)) return "parent or current directory component";
        // Windows drops them, so the file would get another name than the
        // entry's, perhaps another entry's.
        const char16_t last = component.text[component.length - 1];
        if (last == '.' || last == ' ') return "ends in a dot or a blank, which Windows drops";
        if (isWindowsDeviceName(component)) return "reserved device name";
        if (component.length > longestNameComponent) return "a name longer than the 255 characters Windows allows";
        if (!folder && index == count && component.length > longestFileName) {
            return "a file name longer than 241 characters (its part file's name would pass the 255 Windows allows)";
        }
    }
    return nullptr;
}

bool standsInPlace(const char16_t* folderFinal, size_t folderLength, const char16_t* name, size_t nameLength,
                   const char16_t* entryFinal, size_t entryLength) {
    if (folderLength > 0 && folderFinal[folderLength - 1] == '\\') --folderLength;
    if (folderLength == 0 || nameLength == 0 || entryLength != folderLength + 1 + nameLength) return false;
    if (memcmp(entryFinal, folderFinal, folderLength * sizeof(char16_t)) != 0 || entryFinal[folderLength] != '\\') {
        return false;
    }
    const char16_t* last = entryFinal + folderLength + 1;
    for (size_t i = 0; i < nameLength; ++i) {
        if (upperCaseOf(last[i]) != upperCaseOf(name[i])) return false;
    }
    return true;
}

size_t destinationDirectoryLength(const char* destination, size_t length) {
    while (length > 1 && isNameSeparator(destination[length - 1]) && destination[length - 2] != ':') --length;
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
    NameComponentOf<char> component;
    for (size_t i = 0; i < count && nextNameComponent(name, nameLength, position, component); ++i) {
        if (length > 0 && !isNameSeparator(out[length - 1])) out[length++] = separator;
        memcpy(out + length, component.text, component.length);
        length += component.length;
    }
    out[length] = 0;
    return true;
}
