// The recorder itself: a box is recorded only when it can be read whole.
#include "box_recorder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Serves this thread's windows for about `milliseconds` (the recorder reads
// them through messages) and says whether the recorder pressed OK on `box`.
bool serveUntilAnswered(HWND box, DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.hwnd == box && message.message == WM_COMMAND && LOWORD(message.wParam) == IDOK) return true;
            DispatchMessageA(&message);
        }
        Sleep(5);
    }
    return false;
}

// A box being closed loses its text control first; caught then, it used to
// be recorded (and answered) as an empty box the program never showed.
TEST(BoxRecorder, ABoxWithoutItsTextIsNotRecordedUntilItCanBeReadWhole) {
    BoxWatcher watcher;
    HWND box = CreateWindowExA(0, MAKEINTATOM(0x8002), "Recorder Check", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                               nullptr, nullptr, nullptr);
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(serveUntilAnswered(box, 500)) << "a box without its text control was answered";
    HWND text = CreateWindowExA(0, "STATIC", "Whole box", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, box,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(messageBoxTextId)), nullptr, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(serveUntilAnswered(box, 10000));
    DestroyWindow(box);
    EXPECT_EQ(watcher.stop().answeredBoxes(), std::vector<std::string>{"Recorder Check|Whole box"});
}

}  // namespace
