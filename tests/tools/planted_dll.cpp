// A DLL that nothing may load from the launcher's folder: the DLL search
// probe tries to load it by name.
#include <windows.h>

extern "C" __declspec(dllexport) int kestrunePlanted() { return 1; }
