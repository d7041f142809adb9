#include <windows.h>

#include "launcher/kestrune.h"
#include "launcher/tail_marker.h"
#include "launcher/user_interface.h"
#include "text/bounded_text.h"

namespace {
// The label, a full-length path and the line feed.
constexpr size_t programPathBoxSize = 32 + pathBufferSize;
}  // namespace

int getProgramDirectory(char* out) {
    if (verboseMode) {
        char boxText[programPathBoxSize] = "";
        appendText(boxText, programPathLabel);
        appendText(boxText, programPath);
        appendText(boxText, "\n");
        showBox(boxText, mainCaption);
    }
    char fullPath[pathBufferSize];
    char* filePart = nullptr;
    const DWORD length = GetFullPathNameA(programPath, pathBufferSize, fullPath, &filePart);
    if (length == 0 || length >= pathBufferSize) {
        out[0] = 0;
        return 1;
    }
    if (filePart != nullptr) *filePart = 0;
    copyText(out, pathBufferSize, fullPath);
    return 1;
}

int hasTailMarker(const char* tag) {
    HANDLE file = CreateFileA(programPath, FILE_READ_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;

    // Only bytes that were really read take part in the search.
    unsigned char window[markerWindowSize];
    DWORD bytesRead = 0;
    const DWORD size = GetFileSize(file, nullptr);
    const bool positioned = size != INVALID_FILE_SIZE &&
                            SetFilePointer(file, static_cast<LONG>(markerWindowOffset(size)), nullptr, FILE_BEGIN) !=
                                INVALID_SET_FILE_POINTER;
    if (positioned && !ReadFile(file, window, sizeof window, &bytesRead, nullptr)) bytesRead = 0;
    CloseHandle(file);
    return windowHoldsTag(window, bytesRead, tag);
}

void showBox(const char* text, const char* caption) {
    if (const UserFunctions* user = userFunctions()) user->messageBox(text, caption);
}
