#include "launcher/user_interface.h"

namespace {

// One after the other, each ended by its zero: no table of pointers, which
// setup.exe's 16 KiB have no room for.
const char userFunctionNames[] = "MessageBoxA\0FindWindowExA\0GetWindowThreadProcessId\0SendMessageTimeoutA\0IsWindow";

bool loadUserFunctions(UserFunctions& functions) {
    // A known DLL: always the system's own, whatever the search order.
    HMODULE user32 = LoadLibraryA("user32.dll");
    if (user32 == nullptr) return false;
    const char* name = userFunctionNames;
    for (FARPROC& entry : functions.entries) {
        entry = GetProcAddress(user32, name);
        if (entry == nullptr) return false;
        while (*name++ != 0) {
        }
    }
    return true;
}

}  // namespace

const UserFunctions* userFunctions() {
    static UserFunctions functions;
    static int state;  // 0: not tried yet, 1: loaded, 2: not to be had
    if (state == 0) state = loadUserFunctions(functions) ? 1 : 2;
    return state == 1 ? &functions : nullptr;
}
