// foreign-box hung|answering SIGNAL_FILE: another program's box with the
// launcher's notice caption, the dialog class and always on top, so that a
// search by class and caption finds it before any other. "hung" never looks
// at its messages again, as a program that stopped answering; "answering"
// handles them and ignores a close. SIGNAL_FILE is created once it stands.
#include <windows.h>

#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    HWND box =
        CreateWindowExA(WS_EX_TOPMOST, MAKEINTATOM(0x8002), "Varnel Kestrune", WS_POPUP | WS_VISIBLE | WS_CAPTION, 10,
                        10, 200, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (box == nullptr) return 3;
    HANDLE signal = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (signal != INVALID_HANDLE_VALUE) CloseHandle(signal);
    if (std::strcmp(argv[1], "hung") == 0) {
        for (;;) Sleep(INFINITE);
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == box && message.message == WM_CLOSE) continue;
        DispatchMessageA(&message);
    }
    return 0;
}
