#pragma once

#include <windows.h>

// Starts a side thread that holds the "Copying Files. Please wait." box and
// returns at once.
void startProgressNotice();
DWORD WINAPI progressNoticeThread(LPVOID unused);
// Closes the first box of the dialog class with the launcher's caption:
// 1 when one was found and closed, 0 when none stands.
int closeProgressNotice();
