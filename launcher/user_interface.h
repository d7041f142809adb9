// USER32, loaded the first time a box is needed: loading it is most of what a
// launcher process costs to start, and a silent run shows no box at all, so
// it never loads it.
#pragma once

#include <windows.h>

// The few USER32 functions the launcher calls, in the order of their names in
// user_interface.cpp, each called through its own type.
struct UserFunctions {
    FARPROC entries[5];

    int messageBox(LPCSTR text, LPCSTR caption) const {
        return call<int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT)>(0)(nullptr, text, caption, MB_OK);
    }
    HWND findWindowEx(HWND after, LPCSTR className, LPCSTR caption) const {
        return call<HWND(WINAPI*)(HWND, HWND, LPCSTR, LPCSTR)>(1)(nullptr, after, className, caption);
    }
    DWORD windowThread(HWND window) const { return call<DWORD(WINAPI*)(HWND, LPDWORD)>(2)(window, nullptr); }
    BOOL postMessage(HWND window, UINT message) const {
        return call<BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM)>(3)(window, message, 0, 0);
    }
    BOOL isWindow(HWND window) const { return call<BOOL(WINAPI*)(HWND)>(4)(window); }

private:
    // Through the generic function type, which any function pointer may take.
    template <typename Function>
    Function call(int index) const {
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entries[index]));
    }
};

// USER32's functions, loaded on the first call; null when USER32 or one of
// them cannot be had (then no box can be shown either). The first call comes
// from the main thread: the notice's thread starts only after the notice
// asked for them.
const UserFunctions* userFunctions();
