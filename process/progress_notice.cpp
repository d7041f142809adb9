#include "process/progress_notice.h"

#include "launcher/kestrune.h"

namespace {
// The class atom of every window MessageBoxA creates.
const char* const dialogClassAtom = MAKEINTATOM(0x8002);
}  // namespace

DWORD WINAPI progressNoticeThread(LPVOID) {
    MessageBoxA(nullptr, progressNoticeText, mainCaption, MB_OK);
    return 1;
}

void startProgressNotice() {
    SECURITY_ATTRIBUTES security = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    DWORD threadId = 0;
    HANDLE thread = CreateThread(&security, 0, progressNoticeThread, nullptr, 0, &threadId);
    // Nothing waits for the thread; closing the handle does not end it.
    if (thread != nullptr) CloseHandle(thread);
}

int closeProgressNotice() {
    HWND notice = FindWindowA(dialogClassAtom, mainCaption);
    if (notice == nullptr) return 0;
    SendMessageA(notice, WM_CLOSE, 0, 0);
    return 1;
}
