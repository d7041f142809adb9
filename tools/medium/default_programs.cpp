#include "default_programs.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "command_line.h"
#include "file_io.h"
#include "medium_names.h"

namespace {

// `relative` taken from `folder`, a path without links, with each ".."
// taking off the component before it: where it leads, without asking the
// file system, so that a missing folder is named as it would stand.
std::string followRelative(const std::string& folder, const std::string& relative) {
    std::vector<std::string> parts;
    const std::string whole = relative.empty() || relative.front() != '/' ? folder + "/" + relative : relative;
    size_t start = 0;
    while (start <= whole.size()) {
        size_t end = whole.find('/', start);
        if (end == std::string::npos) end = whole.size();
        const std::string part = whole.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string path;
    for (const std::string& part : parts) path += "/" + part;
    return path.empty() ? "/" : path;
}

}  // namespace

const DefaultLayout& builtInLayout() {
    static const DefaultLayout layout = {KESTRUNE_INSTALLED_FOLDER, KESTRUNE_BUILD_PROGRAM_FOLDER,
                                         KESTRUNE_BUILD_LAUNCHER, KESTRUNE_BUILD_EXTRACTOR};
    return layout;
}

std::string thisProgramFolder(std::string& error) {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) {
        error = "where this program is cannot be told: /proc/self/exe: " +
                systemErrorText(length < 0 ? errno : ENAMETOOLONG);
        return "";
    }
    const std::string program(buffer, static_cast<size_t>(length));
    const size_t slash = program.rfind('/');
    return slash == 0 ? "/" : program.substr(0, slash);
}

DefaultProgram findDefaultProgram(const std::string& programFolder, const DefaultLayout& layout, bool launcher) {
    const std::string name = launcher ? launcherFileName : extractorFileName;
    const std::string installed = joinHostPath(followRelative(programFolder, layout.installedFolder), name);
    const std::string resolvedBuildFolder = resolvedPath(layout.buildProgramFolder);
    const bool inBuildTree = !resolvedBuildFolder.empty() && resolvedPath(programFolder) == resolvedBuildFolder;
    const std::string build = launcher ? layout.buildLauncher : layout.buildExtractor;
    DefaultProgram found;
    if (pathKind(installed) == PathKind::file) {
        found.path = installed;
    } else if (inBuildTree && pathKind(build) == PathKind::file) {
        found.path = build;
    } else {
        const std::string option = launcher ? "--launcher" : "--extractor";
        found.problem = "none at " + quoted(installed) + " (installed beside kestrune-medium)";
        if (inBuildTree) {
            found.problem += " nor at " + quoted(build) +
                             " (this build tree's product); build the product with scripts/build.sh, or give " + option;
        } else {
            found.problem += "; install kestrune again, or give " + option;
        }
    }
    return found;
}

DefaultProgram findDefaultProgram(bool launcher) {
    std::string error;
    const std::string folder = thisProgramFolder(error);
    if (folder.empty()) {
        DefaultProgram unknown;
        unknown.problem = error + "; give " + (launcher ? "--launcher" : "--extractor");
        return unknown;
    }
    return findDefaultProgram(folder, builtInLayout(), launcher);
}
