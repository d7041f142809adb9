#pragma once

#include <windows.h>

// Starts a side thread that holds the "Copying Files. Please wait." box and
// returns at once.
void startProgressNotice();
// Closes the first box of the dialog class with the launcher's caption that
// this process owns: 1 when one was found and sent the close, 0 when none
// stands. Never waits long on a box that does not answer.
int closeProgressNotice();
