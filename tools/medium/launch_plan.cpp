#include "launch_plan.h"

#include "command_line.h"
#include "launcher/constants.h"
#include "medium_names.h"
#include "zip_reader_containers.h"

namespace {

std::string limitText(size_t limit) { return "does not fit in " + std::to_string(limit) + " characters"; }

bool isDriveRoot(const std::string& path) { return path.size() == 3 && path[1] == ':' && path[2] == '\\'; }

// "\\server\share\" stays as it is: GetCurrentDirectoryA keeps a share root's backslash.
bool isShareRoot(const std::string& path) {
    if (path.size() < 2 || path.compare(0, 2, "\\\\") != 0 || path.back() != '\\') return false;
    const size_t serverEnd = path.find('\\', 2);
    return serverEnd != std::string::npos && serverEnd + 1 < path.size() - 1 &&
           path.find('\\', serverEnd + 1) == path.size() - 1;
}

std::string windowsEntryPath(const std::string& workDirectory, const std::string& name) {
    std::string path = workDirectory + "\\" + name;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// Each extracted file and folder must have a path that programs using the
// ANSI calls, the installer among them, can open: Windows counts it in
// UTF-16 units. unzip.exe itself opens each name relative to its folder.
void checkEntryPaths(const std::string& workDirectory, const std::vector<ArchiveEntryInfo>& entries, LaunchPlan& plan) {
    for (const ArchiveEntryInfo& entry : entries) {
        std::string path = windowsEntryPath(workDirectory, entry.name);
        if (entry.directory) path.pop_back();
        const size_t length = wideText(path).size();
        if (length > longestPath) {
            plan.problems.push_back(std::string("extracted ") + (entry.directory ? "folder " : "file ") + quoted(path) +
                                    " " + limitText(longestPath) + " (it has " + std::to_string(length) +
                                    "); programs that use the ANSI calls, as most installers do, cannot open it");
        }
    }
}

void addStep(LaunchPlan& plan, const std::string& what, bool composed, const char* text, bool secret = false) {
    plan.steps.push_back(LaunchStep{what, composed ? text : "", secret});
    if (!composed) plan.problems.push_back("the " + what + " " + limitText(longestPath) + "; the launcher would stop");
}

}  // namespace

const OptionRule packageDirectoryOption = {"--package-dir", true, false};
const OptionRule temporaryPathOption = {"--temp", true, false};

bool launchPlaceFrom(const ParsedArguments& parsed, LaunchPlace& place, std::string& error) {
    place.packageDirectory = parsed.value(packageDirectoryOption.name, defaultPackageDirectory);
    place.temporaryPath = parsed.value(temporaryPathOption.name, defaultTemporaryPath);
    for (const auto& [option, path] :
         {std::pair<const char*, std::string>{packageDirectoryOption.name, place.packageDirectory},
          std::pair<const char*, std::string>{temporaryPathOption.name, place.temporaryPath}}) {
        const std::string problem = windowsPathProblem(path);
        if (!problem.empty()) {
            error = std::string(option) + " " + quoted(path) + " " + problem;
            return false;
        }
    }
    return true;
}

std::string windowsPathProblem(const std::string& path) {
    const bool drive = path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                       path[1] == ':' && path[2] == '\\';
    const bool share = path.size() > 2 && path.compare(0, 2, "\\\\") == 0;
    if (!drive && !share) return "is not an absolute Windows path such as D:\\ or \\\\server\\share";
    if (path.find('/') != std::string::npos) return "holds '/'; write Windows paths with '\\'";
    if (path.find('"') != std::string::npos) return "holds a double quote";
    return "";
}

std::string launcherPackageDirectory(const std::string& given) {
    std::string directory = given;
    while (directory.size() > 1 && directory.back() == '\\' && !isDriveRoot(directory) && !isShareRoot(directory)) {
        directory.pop_back();
    }
    return directory;
}

std::string launcherTemporaryPath(const std::string& given) {
    return !given.empty() && given.back() == '\\' ? given : given + "\\";
}

LaunchPlan planLaunch(const std::string& packageDirectory, const std::string& temporaryPath, bool msiMarkerSeen,
                      const char* password, const std::vector<ArchiveEntryInfo>& entries) {
    LaunchPlan plan;
    plan.packageDirectory = launcherPackageDirectory(packageDirectory);
    plan.temporaryPath = launcherTemporaryPath(temporaryPath);
    plan.silentForm = chooseSetupForm(1, msiMarkerSeen ? 1 : 0);

    if (plan.packageDirectory.empty() || plan.temporaryPath.empty()) {
        plan.problems.push_back("no package directory or temporary path to check");
        return plan;
    }
    // GetCurrentDirectoryA and GetFullPathNameA give nothing longer.
    if (plan.packageDirectory.size() > longestPath) {
        plan.problems.push_back("the package directory " + limitText(longestPath));
        return plan;
    }
    const std::string directoryWithSeparator =
        plan.packageDirectory.back() == '\\' ? plan.packageDirectory : plan.packageDirectory + "\\";
    const bool programFits = directoryWithSeparator.size() + std::string(launcherFileName).size() <= longestPath;
    if (programFits) {
        const std::string path = directoryWithSeparator + launcherFileName;
        plan.steps.push_back(LaunchStep{"launcher path", path, false});
    } else {
        plan.problems.push_back(std::string("the launcher path ") + limitText(longestPath));
    }

    char work[pathBufferSize];
    const WorkDirectoryChoice choice = chooseWorkDirectory("", plan.temporaryPath.c_str(), work, sizeof work);
    if (choice != WorkDirectoryChoice::temporary) {
        plan.problems.push_back("the work directory (the temporary path " + quoted(plan.temporaryPath) +
                                " with KESTRUNE behind it) " + limitText(longestPath) + "; the launcher would stop");
        return plan;
    }
    plan.steps.push_back(LaunchStep{"work directory", work, false});
    // The launcher and unzip.exe create it with CreateDirectoryA, which
    // takes less than the 259 characters the launcher allows.
    if (std::string(work).size() > longestDirectoryPath) {
        plan.problems.push_back("the work directory has " + std::to_string(std::string(work).size()) +
                                " characters; CreateDirectoryA creates folders of at most " +
                                std::to_string(longestDirectoryPath) + ", so extraction would fail");
    }

    char command[pathBufferSize];
    addStep(plan, "extraction command",
            composeExtractionCommand(plan.packageDirectory.c_str(), password, work, command, sizeof command), command,
            true);
    addStep(plan, "interactive setup command",
            composeSetupCommand(SetupForm::interactive, work, command, sizeof command), command);
    addStep(plan, "silent setup command (-s)", composeSetupCommand(plan.silentForm, work, command, sizeof command),
            command);
    char script[pathBufferSize];
    const bool scriptFits = composeScriptPath(work, script, sizeof script);
    addStep(plan, "post-processing command", scriptFits && composeScriptCommand(work, command, sizeof command),
            command);
    checkEntryPaths(work, entries, plan);
    return plan;
}

LaunchPlan planLaunch(const LaunchPlace& place, bool msiMarkerSeen, const char* password,
                      const std::vector<ArchiveEntryInfo>& entries) {
    return planLaunch(place.packageDirectory, place.temporaryPath, msiMarkerSeen, password, entries);
}
