// dll-search-probe restricted|unrestricted: loads kestrune-planted.dll by its
// name, which stands beside this program, after the launcher's start-up
// restriction of the DLL search or without it. Exit code 1 when it loaded.
#include <windows.h>

#include <cstring>

#include "launcher/system_functions.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    if (std::strcmp(argv[1], "restricted") == 0) restrictDllSearch();
    return LoadLibraryA("kestrune-planted.dll") != nullptr ? 1 : 0;
}
