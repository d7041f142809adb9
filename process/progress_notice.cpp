#include "process/progress_notice.h"

#include "launcher/kestrune.h"
#include "launcher/user_interface.h"

namespace {
// The class atom of every window MessageBoxA creates.
const char* const dialogClassAtom = MAKEINTATOM(0x8002);
// A closed box is destroyed only when its thread's modal loop next looks at
// its queue; until then the window can still be found by the next search.
constexpr int closeWaitSteps = 200;
constexpr DWORD closeWaitStepMilliseconds = 10;

DWORD WINAPI progressNoticeThread(LPVOID) {
    if (const UserFunctions* user = userFunctions()) user->messageBox(progressNoticeText, mainCaption);
    return 1;
}
}  // namespace

void startProgressNotice() {
    // USER32 is loaded here, on the main thread, before the thread asks.
    if (userFunctions() == nullptr) return;
    SECURITY_ATTRIBUTES security = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    DWORD threadId = 0;
    HANDLE thread = CreateThread(&security, 0, progressNoticeThread, nullptr, 0, &threadId);
    // Nothing waits for the thread; closing the handle does not end it.
    if (thread != nullptr) CloseHandle(thread);
}

namespace {
// The first box with the notice's class and caption that this process owns:
// another launcher's notice, or any other program's box, is never touched.
HWND findOwnNotice(const UserFunctions& user) {
    const DWORD self = GetCurrentProcessId();
    for (HWND box = user.findWindowEx(nullptr, dialogClassAtom, mainCaption); box != nullptr;
         box = user.findWindowEx(box, dialogClassAtom, mainCaption)) {
        if (user.windowProcess(box) == self) return box;
    }
    return nullptr;
}
}  // namespace

int closeProgressNotice() {
    const UserFunctions* user = userFunctions();
    HWND notice = user != nullptr ? findOwnNotice(*user) : nullptr;
    if (notice == nullptr) return 0;
    // Bounded, so that a box that does not answer cannot hold the run up.
    user->sendMessageTimeout(notice, WM_CLOSE, SMTO_ABORTIFHUNG, closeWaitSteps * closeWaitStepMilliseconds);
    // Wait (briefly, bounded) until it is gone, so that a second call finds
    // a second box rather than this one again.
    for (int step = 0; step < closeWaitSteps && user->isWindow(notice); ++step) Sleep(closeWaitStepMilliseconds);
    return 1;
}
