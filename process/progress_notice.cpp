#include "process/progress_notice.h"

#include "launcher/kestrune.h"
#include "launcher/user_interface.h"

namespace {
// The class atom of every window MessageBoxA creates.
const char* const dialogClassAtom = MAKEINTATOM(0x8002);
// How long a close waits for the box of a notice thread that still runs to
// show, and then for a closed box to go. The box's thread was starved for
// up to 2.4 s on a machine loaded eight times over: the bound is far above
// that, and costs nothing while the box shows or its thread has ended.
constexpr int showWaitSteps = 1000;
// A closed box is destroyed only when its thread's modal loop next looks at
// its queue; until then the window can still be found by the next search.
constexpr int goneWaitSteps = 200;
constexpr DWORD waitStepMilliseconds = 10;

// The thread of the last notice started, until a close has dealt with it.
HANDLE noticeThread = nullptr;
DWORD noticeThreadId = 0;

DWORD WINAPI progressNoticeThread(LPVOID) {
    if (const UserFunctions* user = userFunctions()) user->messageBox(progressNoticeText, mainCaption);
    return 1;
}

// The box with the notice's class and caption that the notice's own thread
// holds: another launcher's notice, or any other box, is never touched.
HWND findOwnNotice(const UserFunctions& user) {
    for (HWND box = user.findWindowEx(nullptr, dialogClassAtom, mainCaption); box != nullptr;
         box = user.findWindowEx(box, dialogClassAtom, mainCaption)) {
        if (user.windowThread(box) == noticeThreadId) return box;
    }
    return nullptr;
}
}  // namespace

void startProgressNotice() {
    // USER32 is loaded here, on the main thread, before the thread asks.
    if (userFunctions() == nullptr) return;
    SECURITY_ATTRIBUTES security = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    if (noticeThread != nullptr) CloseHandle(noticeThread);
    // Kept, so that the close can tell a box not shown yet from one gone,
    // and find the box of this very thread.
    noticeThread = CreateThread(&security, 0, progressNoticeThread, nullptr, 0, &noticeThreadId);
}

int closeProgressNotice() {
    const UserFunctions* user = userFunctions();
    if (user == nullptr || noticeThread == nullptr) return 0;
    HWND notice = findOwnNotice(*user);
    // The extraction may end before the notice's thread has shown its box:
    // while that thread runs, the box is still to come, and is waited for,
    // so that it never stands over what follows.
    for (int step = 0; notice == nullptr && step < showWaitSteps &&
                       WaitForSingleObject(noticeThread, waitStepMilliseconds) == WAIT_TIMEOUT;
         ++step) {
        notice = findOwnNotice(*user);
    }
    CloseHandle(noticeThread);
    noticeThread = nullptr;
    if (notice == nullptr) return 0;
    // Posted: it waits in the box's queue until its thread takes it, however
    // busy the machine, and nothing here waits on a box that does not answer.
    user->postMessage(notice, WM_CLOSE);
    // Wait (briefly, bounded) until it is gone, so that a second call finds
    // a second box rather than this one again.
    for (int step = 0; step < goneWaitSteps && user->isWindow(notice); ++step) Sleep(waitStepMilliseconds);
    return 1;
}
