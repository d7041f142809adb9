#include "launcher/user_interface.h"

#include "launcher/constants.h"
#include "text/bounded_text.h"

namespace {

// One after the other, each ended by its zero: no table of pointers, which
// setup.exe's 16 KiB have no room for.
const char userFunctionNames[] = "MessageBoxA\0FindWindowExA\0GetWindowThreadProcessId\0PostMessageA\0IsWindow";

bool loadUserFunctions(UserFunctions& functions) {
    // By its full path in the system directory: never a user32.dll from the
    // medium's folder, even where the platform cannot take that folder out
    // of the search.
    char path[pathBufferSize];
    const UINT length = GetSystemDirectoryA(path, pathBufferSize);
    if (length == 0 || length >= pathBufferSize || !appendText(path, "\\user32.dll")) return false;
    HMODULE user32 = LoadLibraryA(path);
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
