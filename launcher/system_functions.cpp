#include "launcher/system_functions.h"

#include <windows.h>

namespace {
using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryCall = BOOL(WINAPI*)(LPCSTR);
}  // namespace

SystemFunction lookUpSystemFunction(const char* module, const char* name) {
    HMODULE loaded = GetModuleHandleA(module);
    return loaded == nullptr ? nullptr : reinterpret_cast<SystemFunction>(GetProcAddress(loaded, name));
}

void restrictDllSearch() {
    // Vista and later with the loader update, every current system.
    const auto setDefault =
        lookUpSystemFunctionAs<SetDefaultDllDirectoriesCall>(kernelModule, "SetDefaultDllDirectories");
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Older systems: at least the current directory leaves the search.
    const auto setDirectory = lookUpSystemFunctionAs<SetDllDirectoryCall>(kernelModule, "SetDllDirectoryA");
    if (setDirectory != nullptr) setDirectory("");
}
