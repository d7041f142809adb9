#include "layout.h"

#include <sys/stat.h>

#include <cerrno>

#include "command_line.h"
#include "file_io.h"
#include "medium_names.h"
#include "pe_file.h"
#include "progress.h"

namespace {

std::string folded(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string sizeOf(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? sizeText(static_cast<uint64_t>(status.st_size)) : "unknown size";
}

// Whether `name` is a file in the medium; a problem line when it is not,
// naming another spelling when there is one.
bool requireFile(const std::string& directory, const std::vector<std::string>& names, const char* name,
                 LayoutReport& report) {
    const std::string path = joinHostPath(directory, name);
    const PathKind kind = pathKind(path);
    if (kind == PathKind::file) return true;
    if (kind != PathKind::missing) {
        report.problems.push_back(std::string(name) + " is not a readable file");
        return false;
    }
    std::string problem = std::string(name) + " is missing";
    for (const std::string& other : names) {
        if (folded(other) == folded(name)) {
            problem += " (there is " + quoted(other) + ", which differs in case; name it " + name + ")";
            break;
        }
    }
    report.problems.push_back(problem);
    return false;
}

}  // namespace

std::string launcherProblem(const std::string& path, const char* password) {
    const std::string peProblem = peFileProblem(path);
    if (!peProblem.empty()) return quoted(path) + " is not a Windows PE program: " + peProblem;
    bool found = false;
    std::string error;
    // The launcher keeps its password as a terminated string.
    if (!fileContains(path, std::string(password) + '\0', found, error)) return error;
    if (!found) {
        return quoted(path) +
               " does not hold this tool's package password; it was built with another "
               "KESTRUNE_PACKAGE_PASSWORD and could not open the package";
    }
    return "";
}

LayoutReport checkLayout(const std::string& directory, const char* password) {
    LayoutReport report;
    const PathKind kind = pathKind(directory);
    if (kind != PathKind::directory) {
        report.problems.push_back("medium " + quoted(directory) +
                                  (kind == PathKind::missing ? " does not exist" : " is not a folder"));
        return report;
    }
    report.directoryExists = true;
    std::vector<std::string> names;
    std::string unreadable;
    directoryNames(directory, names, unreadable);

    if (requireFile(directory, names, launcherFileName, report)) {
        const std::string path = joinHostPath(directory, launcherFileName);
        const std::string problem = launcherProblem(path, password);
        if (problem.empty()) {
            report.info.push_back(std::string(launcherFileName) + ": Windows program, " + sizeOf(path) +
                                  ", holds the package password");
            report.launcherUsable = true;
        } else {
            report.problems.push_back(problem);
            // A program with another password still has markers to show.
            report.launcherUsable = peFileProblem(path).empty();
        }
    }
    if (requireFile(directory, names, extractorFileName, report)) {
        const std::string path = joinHostPath(directory, extractorFileName);
        const std::string problem = peFileProblem(path);
        report.extractorUsable = problem.empty();
        if (problem.empty()) {
            report.info.push_back(std::string(extractorFileName) + ": Windows program, " + sizeOf(path));
        } else {
            report.problems.push_back(quoted(path) + " is not a Windows PE program: " + problem);
        }
    }
    report.packagePresent = requireFile(directory, names, packageFileName, report);
    return report;
}
