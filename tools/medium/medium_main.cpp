// kestrune-medium: makes and checks the distribution media of the kestrune
// launcher on the Linux side. See README.md and `kestrune-medium --help`.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "default_programs.h"
#include "medium_names.h"

namespace {

std::string commandList() {
    std::string list;
    for (const std::string& name : commandNames()) list += (list.empty() ? "" : ", ") + name;
    return "(commands: " + list + ")";
}

// `help`, `help COMMAND`; an unknown topic is a wrong command line.
int runHelp(std::vector<std::string> arguments) {
    if (!arguments.empty() && arguments.front() == "--") arguments.erase(arguments.begin());
    if (arguments.empty() || arguments.front() == "-h" || arguments.front() == "--help") {
        printOverview(stdout);
        return exitOk;
    }
    if (arguments.size() > 1) return usageError("help", "help takes one command");
    const std::string& topic = arguments.front();
    if (printCommandHelp(topic, stdout)) return exitOk;
    const std::string meant = nearMatch(topic, commandNames());
    return usageError("help", "unknown help topic " + quoted(topic) +
                                  (meant.empty() ? " " + commandList() : "; the nearest command is " + meant));
}

}  // namespace

int main(int argc, char** argv) {
    // "--" before the command ends the tool's own options (-h, --version).
    const int first = argc > 1 && std::strcmp(argv[1], "--") == 0 ? 2 : 1;
    if (argc <= first) {
        printOverview(stderr);
        return exitUsage;
    }
    const std::string command = argv[first];
    const std::vector<std::string> arguments(argv + first + 1, argv + argc);
    if (first == 1 && (command == "--help" || command == "-h")) {
        printOverview(stdout);
        return exitOk;
    }
    if (first == 1 && command == "--version") {
        std::printf("kestrune-medium %s\n", mediumVersion);
        // Where `build` takes its programs from without --launcher and --extractor.
        for (const bool launcher : {true, false}) {
            const DefaultProgram found = findDefaultProgram(launcher);
            std::printf("default %s: %s\n", launcher ? launcherFileName : extractorFileName,
                        (found.path.empty() ? found.problem : quoted(found.path)).c_str());
        }
        return exitOk;
    }
    if (command == "help") return runHelp(arguments);
    if (command == "build") return runBuild(arguments);
    if (command == "mark") return runMark(arguments);
    if (command == "markers") return runMarkers(arguments);
    if (command == "check") return runCheck(arguments);
    if (command == "sign") return runSign(arguments);
    // No help of its own: usageError points at the overview. "--version"
    // and "--help" are near misses too ("-version").
    std::vector<std::string> known = commandNames();
    known.insert(known.end(), {"--version", "--help"});
    const std::string meant = nearMatch(command, known);
    return usageError(command.c_str(), "unknown command " + quoted(command) +
                                           (meant.empty() ? "" : "; the nearest is " + meant) + " " + commandList());
}
