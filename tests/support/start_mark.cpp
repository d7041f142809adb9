// Linked into every Windows test program: marks that the program really
// started, for tests/start_windows_test.sh, which starts again only a program
// that Wine never started.
#include <cstdio>
#include <cstdlib>

namespace {
struct StartMark {
    StartMark() {
        const char* path = std::getenv("KESTRUNE_TEST_STARTED");
        if (path == nullptr || path[0] == 0) return;
        if (std::FILE* mark = std::fopen(path, "w")) std::fclose(mark);
    }
};
const StartMark startMark;
}  // namespace
