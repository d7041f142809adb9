// record-boxes [--leave TEXT]... [--signal TEXT FILE] [--cd DIR] [--out FILE] -- COMMAND LINE
// Runs the command, answers its message boxes with OK and writes what it saw:
// one "box: caption | text" line per box (line feeds shown as \n), then
// "exit: N". Used by the demo to show what the launcher put on screen.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "box_recorder.h"

namespace {
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}
}  // namespace

int main(int argc, char** argv) {
    RecordOptions options;
    std::string outPath;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--leave") == 0 && i + 1 < argc)
            options.leaveStanding.push_back(argv[++i]);
        else if (std::strcmp(argv[i], "--cd") == 0 && i + 1 < argc)
            options.currentDirectory = argv[++i];
        else if (std::strcmp(argv[i], "--signal") == 0 && i + 2 < argc) {
            options.signalText = argv[++i];
            options.signalFile = argv[++i];
        } else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc)
            outPath = argv[++i];
    }
    // The command line is taken verbatim from behind the "--".
    const char* raw = std::strstr(GetCommandLineA(), " -- ");
    if (i >= argc || raw == nullptr) {
        std::fprintf(stderr,
                     "usage: record-boxes [--leave TEXT]... [--signal TEXT FILE] [--cd DIR] [--out FILE] -- COMMAND\n");
        return 2;
    }
    const RecordedRun run = recordRun(raw + 4, options);
    FILE* out = outPath.empty() ? stdout : std::fopen(outPath.c_str(), "w");
    if (out == nullptr) return 2;
    for (const RecordedBox& box : run.boxes) {
        std::fprintf(out, "box: %s | %s%s\n", escaped(box.caption).c_str(), escaped(box.text).c_str(),
                     box.answered ? "" : (box.vanished ? "   (closed by the program)" : "   (left standing)"));
    }
    if (!run.started) std::fprintf(out, "not started\n");
    std::fprintf(out, "exit: %lu%s\n", run.exitCode, run.timedOut ? " (timed out)" : "");
    if (out != stdout) std::fclose(out);
    return run.started && !run.timedOut ? 0 : 1;
}
