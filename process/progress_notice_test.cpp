#include "process/progress_notice.h"

#include <gtest/gtest.h>

#include <string>

namespace {

HWND findNotice() { return FindWindowA(MAKEINTATOM(0x8002), "Varnel Kestrune"); }

// The notice shows when its thread gets there; give it a moment.
HWND waitForNotice(int count = 1) {
    for (int i = 0; i < 500; ++i) {
        int found = 0;
        HWND last = nullptr;
        for (HWND w = FindWindowExA(nullptr, nullptr, MAKEINTATOM(0x8002), "Varnel Kestrune"); w != nullptr;
             w = FindWindowExA(nullptr, w, MAKEINTATOM(0x8002), "Varnel Kestrune")) {
            if (IsWindowVisible(w)) {
                ++found;
                last = w;
            }
        }
        if (found >= count) return last;
        Sleep(10);
    }
    return nullptr;
}

bool waitUntilGone(HWND window) {
    for (int i = 0; i < 300 && IsWindow(window); ++i) Sleep(10);
    return !IsWindow(window);
}

TEST(ProgressNotice, ShowsItsTextAndIsClosedByTheMainThread) {
    startProgressNotice();
    HWND notice = waitForNotice();
    ASSERT_NE(notice, nullptr);
    char text[256] = "";
    GetDlgItemTextA(notice, 0xFFFF, text, sizeof text);
    EXPECT_STREQ(text, "Copying Files. Please wait.");
    char caption[256] = "";
    GetWindowTextA(notice, caption, sizeof caption);
    EXPECT_STREQ(caption, "Varnel Kestrune");

    EXPECT_EQ(closeProgressNotice(), 1);
    EXPECT_TRUE(waitUntilGone(notice));
    EXPECT_EQ(findNotice(), nullptr);
}

TEST(ProgressNotice, CloseWithNoNoticeFindsNothing) { EXPECT_EQ(closeProgressNotice(), 0); }

// An extraction that ends at once: the close comes before the notice's thread
// has shown its box. It waits for the box and closes it, and no notice is
// left to stand over what follows. Several times, as each close meets the
// thread at another point.
TEST(ProgressNotice, ACloseRightAfterTheStartLeavesNoNoticeBehind) {
    for (int round = 0; round < 10; ++round) {
        startProgressNotice();
        EXPECT_EQ(closeProgressNotice(), 1) << "round " << round;
        for (int i = 0; i < 50; ++i) {
            ASSERT_EQ(findNotice(), nullptr) << "round " << round << ": a notice stands after the close";
            Sleep(20);
        }
    }
}

// Another box of this process with the notice's caption, held by a thread
// of its own: the close finds the notice's box, and only that.
DWORD WINAPI otherBoxThread(LPVOID) { return MessageBoxA(nullptr, "another box", "Varnel Kestrune", MB_OK); }

TEST(ProgressNotice, ACloseTouchesOnlyTheNoticesOwnBox) {
    HANDLE other = CreateThread(nullptr, 0, otherBoxThread, nullptr, 0, nullptr);
    ASSERT_NE(other, nullptr);
    HWND otherBox = waitForNotice();
    ASSERT_NE(otherBox, nullptr);
    startProgressNotice();
    ASSERT_NE(waitForNotice(2), nullptr);
    EXPECT_EQ(closeProgressNotice(), 1);
    EXPECT_EQ(closeProgressNotice(), 0) << "one notice, one close";
    EXPECT_TRUE(IsWindow(otherBox)) << "the other box was closed";
    char text[64] = "";
    GetDlgItemTextA(findNotice(), 0xFFFF, text, sizeof text);
    EXPECT_STREQ(text, "another box");
    PostMessageA(otherBox, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WaitForSingleObject(other, 5000), WAIT_OBJECT_0);
    CloseHandle(other);
}

TEST(ProgressNotice, ANoticeTheUserDismissedIsNotFoundAgain) {
    startProgressNotice();
    HWND notice = waitForNotice();
    ASSERT_NE(notice, nullptr);
    PostMessageA(notice, WM_COMMAND, IDOK, 0);  // the user presses OK
    ASSERT_TRUE(waitUntilGone(notice));
    EXPECT_EQ(closeProgressNotice(), 0);
}

}  // namespace
