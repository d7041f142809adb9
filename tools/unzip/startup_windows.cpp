// unzip.exe's own start-up code: no C or C++ runtime is linked (as in the
// launcher), so the process begins here, and the few C functions that the
// code, zlib's inflate and the compiler call are provided below. The console
// program's command line is split as msvcrt.dll split it (arguments.h).
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "arguments.h"
#include "exit_codes.h"
#include "file_system.h"

extern "C" void unzipStart() {
    const char* commandLine = GetCommandLineA();
    const size_t length = strlen(commandLine);
    char* buffer = static_cast<char*>(malloc(length + 1));
    const char** arguments = static_cast<const char**>(malloc((length / 2 + 2) * sizeof(const char*)));
    if (buffer == nullptr || arguments == nullptr) {
        const char line[] = "unzip: not enough memory";
        writeErrorText(line, sizeof line - 1);
        writeErrorText(nativeLineEnd, strlen(nativeLineEnd));
        ExitProcess(exitOutOfMemory);
    }
    const size_t count = splitArguments(commandLine, buffer, arguments);
    ExitProcess(static_cast<UINT>(runUnzip(arguments, count)));
}

// The copies are the hot ones (zlib's window, stored blocks): the string
// instructions move whole lines on every processor since 2013. The loops
// must stay loops: the compiler would otherwise turn them back into calls to
// the very functions they implement.

extern "C" void* memcpy(void* dest, const void* source, size_t count) {
    void* to = dest;
    __asm__ volatile("rep movsb" : "+D"(to), "+S"(source), "+c"(count) : : "memory");
    return dest;
}

extern "C" void* memset(void* dest, int value, size_t count) {
    void* to = dest;
    __asm__ volatile("rep stosb" : "+D"(to), "+c"(count) : "a"(value) : "memory");
    return dest;
}

extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memmove(void* dest, const void* source,
                                                                                       size_t count) {
    unsigned char* to = static_cast<unsigned char*>(dest);
    const unsigned char* from = static_cast<const unsigned char*>(source);
    if (to <= from || to >= from + count) return memcpy(dest, source, count);
    while (count-- > 0) to[count] = from[count];
    return dest;
}

extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) int memcmp(const void* a, const void* b,
                                                                                    size_t count) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (; count > 0; ++x, ++y, --count) {
        if (*x != *y) return *x < *y ? -1 : 1;
    }
    return 0;
}

extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) size_t strlen(const char* text) {
    const char* end = text;
    while (*end != 0) ++end;
    return static_cast<size_t>(end - text);
}

// The process heap: serialised, so every thread may use it.
extern "C" void* malloc(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

extern "C" void* calloc(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, count * size);
}

extern "C" void free(void* block) {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}
