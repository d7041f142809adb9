// swapper SOURCE TARGET STOP_FILE COUNT_FILE: another user's process, as far
// as Wine can show one (it runs as the same user, but on the Windows side,
// where share modes hold: a Linux-side process ignores them). Again and
// again it copies SOURCE beside TARGET and moves the copy onto TARGET,
// replacing whatever stands there, as a user who may write to TARGET's
// folder can, until STOP_FILE exists (at most two minutes). Then it writes
// how many swaps succeeded into COUNT_FILE.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    const std::string source = argv[1];
    const std::string target = argv[2];
    const std::string copy = target + ".swap";
    unsigned long swaps = 0;
    const DWORD start = GetTickCount();
    while (GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < 120000) {
        if (CopyFileA(source.c_str(), copy.c_str(), FALSE) &&
            MoveFileExA(copy.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            ++swaps;
        }
    }
    DeleteFileA(copy.c_str());
    FILE* count = std::fopen(argv[4], "w");
    if (count == nullptr) return 1;
    std::fprintf(count, "%lu", swaps);
    std::fclose(count);
    return 0;
}
