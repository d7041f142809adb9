#include "install/entry_position.h"

#include "launcher/constants.h"
#include "text/bounded_text.h"

namespace {

wchar_t foldAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// Whether `text` begins with `start`; `rest` is what follows.
bool beginsWith(const wchar_t* text, const wchar_t* start, size_t startLength, const wchar_t** rest) {
    for (size_t i = 0; i < startLength; ++i) {
        if (text[i] == 0 || foldAscii(text[i]) != foldAscii(start[i])) return false;
    }
    *rest = text + startLength;
    return true;
}

size_t wideLength(const wchar_t* text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

}  // namespace

bool standsInPlace(const wchar_t* directoryName, const wchar_t* name, const wchar_t* entryName) {
    if (directoryName == nullptr || name == nullptr || entryName == nullptr) return false;
    size_t directoryLength = wideLength(directoryName);
    const size_t nameLength = wideLength(name);
    // A drive root's name ends with its backslash.
    if (directoryLength > 0 && directoryName[directoryLength - 1] == L'\\') --directoryLength;
    if (directoryLength == 0 || nameLength == 0) return false;
    const wchar_t* rest = entryName;
    return beginsWith(rest, directoryName, directoryLength, &rest) && *rest++ == L'\\' &&
           beginsWith(rest, name, nameLength, &rest) && *rest == 0;
}

bool splitLastName(const char* path, char* directory, size_t directoryCapacity, char* name, size_t nameCapacity) {
    char trimmed[pathBufferSize];
    if (!copyText(trimmed, path)) return false;
    size_t length = textLength(trimmed);
    while (length > 0 && trimmed[length - 1] == '\\') trimmed[--length] = 0;
    size_t nameStart = length;
    while (nameStart > 0 && trimmed[nameStart - 1] != '\\') --nameStart;
    if (nameStart == 0 || nameStart == length) return false;
    if (!copyText(name, nameCapacity, trimmed + nameStart)) return false;
    // Keep the backslash of a drive root ("C:\").
    const bool driveRoot = nameStart >= 2 && trimmed[nameStart - 2] == ':';
    trimmed[driveRoot ? nameStart : nameStart - 1] = 0;
    return trimmed[0] != 0 && copyText(directory, directoryCapacity, trimmed);
}
