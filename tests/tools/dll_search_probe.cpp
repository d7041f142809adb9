// dll-search-probe restricted|unrestricted: loads kestrune-planted.dll by its
// name, which stands beside this program, after the launcher's start-up
// restriction of the DLL search or without it. Exit code 1 when it loaded.
// dll-search-probe user32: has the launcher load USER32 for its boxes. Exit
// code 1 when it asked for it by its full path in the system directory.
#include <windows.h>

#include <cstring>
#include <string>

#include "launcher/system_functions.h"
#include "launcher/user_interface.h"
#include "windows_test_support.h"

namespace {
using LoadLibraryCall = HMODULE(WINAPI*)(LPCSTR);
LoadLibraryCall realLoadLibrary = nullptr;
std::string asked;

HMODULE WINAPI recordingLoadLibrary(LPCSTR name) {
    asked = name;
    return realLoadLibrary(name);
}

int loadsUser32ByItsFullPath() {
    testing_support::ScopedImport<LoadLibraryCall> recording("kernel32.dll", "LoadLibraryA", &recordingLoadLibrary);
    if (!recording.active()) return 3;
    realLoadLibrary = recording.original();
    if (userFunctions() == nullptr) return 4;
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, sizeof system);
    return asked == std::string(system) + "\\user32.dll" ? 1 : 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    if (std::strcmp(argv[1], "user32") == 0) return loadsUser32ByItsFullPath();
    if (std::strcmp(argv[1], "restricted") == 0) restrictDllSearch();
    return LoadLibraryA("kestrune-planted.dll") != nullptr ? 1 : 0;
}
