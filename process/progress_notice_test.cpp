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

TEST(ProgressNotice, TwoNoticesNeedTwoCloses) {
    startProgressNotice();
    startProgressNotice();
    ASSERT_NE(waitForNotice(2), nullptr);
    EXPECT_EQ(closeProgressNotice(), 1);
    EXPECT_EQ(closeProgressNotice(), 1);
    for (int i = 0; i < 300 && findNotice() != nullptr; ++i) Sleep(10);
    EXPECT_EQ(closeProgressNotice(), 0);
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
