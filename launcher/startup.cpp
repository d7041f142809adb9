// The launcher's own start-up code: no C runtime is linked, so the process
// begins here, and the few routines the compiler may call on its own for
// zeroing and copying are provided below.
#include <windows.h>

#include "launcher/command_tail.h"
#include "launcher/kestrune.h"
#include "launcher/system_functions.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

extern "C" void kestruneStart() {
    // Before anything can load a DLL: none from the medium's folder.
    restrictDllSearch();
    readProgramPath();

    char* commandTail = const_cast<char*>(skipProgramName(GetCommandLineA()));
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(&__ImageBase);
    ExitProcess(static_cast<UINT>(WinMain(instance, nullptr, commandTail, SW_SHOWDEFAULT)));
}

// The loops must stay loops: the compiler would otherwise turn them back into
// calls to the very functions they implement.
extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memset(void* dest, int value,
                                                                                      size_t count) {
    unsigned char* bytes = static_cast<unsigned char*>(dest);
    while (count-- > 0) *bytes++ = static_cast<unsigned char>(value);
    return dest;
}

extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memcpy(void* dest, const void* source,
                                                                                      size_t count) {
    unsigned char* to = static_cast<unsigned char*>(dest);
    const unsigned char* from = static_cast<const unsigned char*>(source);
    while (count-- > 0) *to++ = *from++;
    return dest;
}
