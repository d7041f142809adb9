// kestrune-medium: makes and checks the distribution media of the kestrune
// launcher on the Linux side. See README.md and `kestrune-medium --help`.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(mediumUsageText, stderr);
        return exitUsage;
    }
    const std::string command = argv[1];
    const std::vector<std::string> arguments(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(mediumUsageText, stdout);
        return exitOk;
    }
    if (command == "build") return runBuild(arguments);
    if (command == "mark") return runMark(arguments);
    if (command == "markers") return runMarkers(arguments);
    if (command == "check") return runCheck(arguments);
    printError("unknown command " + printable(command) + " (commands: build, mark, markers, check)");
    std::fprintf(stderr, "see: kestrune-medium --help\n");
    return exitUsage;
}
