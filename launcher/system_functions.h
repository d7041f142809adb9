// Functions that older systems lack, looked up at run time so that the
// launcher still starts there; and the start-up restriction of the DLL search.
#pragma once

#include <stdint.h>

// The system DLLs whose functions are looked up, each name stored once.
inline constexpr char kernelModule[] = "kernel32.dll";
inline constexpr char nativeModule[] = "ntdll.dll";
inline constexpr char securityModule[] = "advapi32.dll";

// The platform's documented pseudo-handle of the calling process, as
// GetCurrentProcess gives it, without importing a function for a constant.
inline void* currentProcess() {
    return reinterpret_cast<void*>(static_cast<intptr_t>(-1));  // NOLINT(performance-no-int-to-ptr): its value
}

// The function `name` of the already loaded system DLL `module`, or null.
// Through the generic function type, which any function pointer may take.
using SystemFunction = void (*)();
SystemFunction lookUpSystemFunction(const char* module, const char* name);

template <typename Function>
Function lookUpSystemFunctionAs(const char* module, const char* name) {
    return reinterpret_cast<Function>(lookUpSystemFunction(module, name));
}

// Lets the launcher's own process load DLLs from the system directory only,
// never from the medium's folder or the current directory. Children are not
// affected. Called first thing at start-up.
void restrictDllSearch();
