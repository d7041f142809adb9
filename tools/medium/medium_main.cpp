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

// `help`, `help COMMAND`; an unknown topic is a wrong command line.
int runHelp(const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments.front() == "-h" || arguments.front() == "--help") {
        printOverview(stdout);
        return exitOk;
    }
    if (arguments.size() > 1) return usageError("help", "help takes one command");
    const std::string& topic = arguments.front();
    if (printCommandHelp(topic, stdout)) return exitOk;
    return usageError(
        "help", "unknown help topic " + quoted(topic) + "; the nearest command is " + nearestOf(topic, commandNames()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printOverview(stderr);
        return exitUsage;
    }
    const std::string command = argv[1];
    const std::vector<std::string> arguments(argv + 2, argv + argc);
    if (command == "--help" || command == "-h") {
        printOverview(stdout);
        return exitOk;
    }
    if (command == "--version") {
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
    std::string list;
    for (const std::string& name : commandNames()) list += (list.empty() ? "" : ", ") + name;
    // No help of its own: usageError points at the overview.
    return usageError(command.c_str(), "unknown command " + quoted(command) + "; the nearest is " +
                                           nearestOf(command, commandNames()) + " (commands: " + list + ")");
}
