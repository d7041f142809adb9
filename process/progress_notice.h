#pragma once

#include <windows.h>

// Starts a side thread that holds the "Copying Files. Please wait." box and
// returns at once. A launcher starts one notice.
void startProgressNotice();
// Closes the box of the dialog class with the launcher's caption that the
// notice's thread holds: 1 when it was found and closed, 0 when there is
// none. While that thread runs and its box has not shown yet, waits for it
// (bounded), so that it never shows after the close. Never waits long on a
// box that does not answer.
int closeProgressNotice();
