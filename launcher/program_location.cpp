#include <windows.h>

#include "launcher/kestrune.h"
#include "launcher/tail_marker.h"
#include "launcher/user_interface.h"
#include "text/bounded_text.h"

namespace {
// The label, a full-length path and the line feed.
constexpr size_t programPathBoxSize = 32 + pathBufferSize;
}  // namespace

void readProgramPath() {
    DWORD length = GetModuleFileNameA(nullptr, programPath, pathBufferSize);
    // A name that fills the buffer was cut, and may be unterminated.
    if (length >= pathBufferSize) length = 0;
    programPath[length] = 0;
}

int getProgramDirectory(char (&out)[pathBufferSize]) {
    if (verboseMode) {
        char boxText[programPathBoxSize] = "";
        appendText(boxText, programPathLabel);
        appendText(boxText, programPath);
        appendText(boxText, "\n");
        showBox(boxText, mainCaption);
    }
    char* filePart = nullptr;
    const DWORD length = GetFullPathNameA(programPath, pathBufferSize, out, &filePart);
    // An empty program path (one that did not fit) names no file.
    if (programPath[0] == 0 || length == 0 || length >= pathBufferSize || filePart == nullptr) {
        out[0] = 0;
        return 0;
    }
    *filePart = 0;
    return 1;
}

int hasTailMarker(const char* tag) {
    HANDLE file = CreateFileA(programPath, FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;

    // Only bytes that were really read take part in the search. The window
    // is read at its offset, given with the read.
    unsigned char window[markerWindowSize];
    DWORD bytesRead = 0;
    BY_HANDLE_FILE_INFORMATION information;
    OVERLAPPED at;
    fillBytes(&at, 0, sizeof at);
    if (GetFileInformationByHandle(file, &information)) {
        at.Offset = markerWindowOffset(information.nFileSizeLow);
        if (!ReadFile(file, window, sizeof window, &bytesRead, &at)) bytesRead = 0;
    }
    CloseHandle(file);
    return windowHoldsTag(window, bytesRead, tag);
}

void showBox(const char* text, const char* caption) {
    if (const UserFunctions* user = userFunctions()) user->messageBox(text, caption);
}

void showReason(const char* text) {
    if (verboseMode || !silentMode) showBox(text, mainCaption);
}
