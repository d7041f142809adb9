// kestrune-medium mark FILE TAG...   and   kestrune-medium markers FILE
#include <cstdio>

#include "command_line.h"
#include "commands.h"
#include "file_io.h"
#include "launcher/constants.h"
#include "markers.h"
#include "pe_file.h"

namespace {

int usageError(const std::string& message) {
    printError(message);
    std::fprintf(stderr, "see: kestrune-medium --help\n");
    return exitUsage;
}

// Positional arguments only; "--" lets a tag start with a dash.
bool parsePositional(const std::vector<std::string>& arguments, ParsedArguments& parsed, int& status) {
    static const std::vector<OptionRule> rules = {{"--help", false, false}};
    std::string error;
    if (!parseArguments(arguments, rules, parsed, error)) {
        status = usageError(error);
        return false;
    }
    if (parsed.has("--help")) {
        std::fputs(mediumUsageText, stdout);
        status = exitOk;
        return false;
    }
    return true;
}

std::string launcherFileProblem(const std::string& path) {
    const PathKind kind = pathKind(path);
    if (kind == PathKind::missing) return path + " does not exist";
    if (kind != PathKind::file) return path + " is not a file";
    const std::string problem = peFileProblem(path);
    return problem.empty() ? "" : path + " is not a Windows PE launcher: " + problem;
}

std::string placeText(const MarkerFinding& marker) {
    const std::string distance = std::to_string(marker.distanceFromEnd) + " bytes before the end of the file";
    const std::string seen = marker.seenByLauncher ? "; its text still stands in the window, so the launcher finds it"
                                                   : "; the launcher does not see it";
    if (marker.place == MarkerPlace::straddling) {
        return "partly outside the window: " + printable(marker.tag) + " (its line starts " + distance + ")" + seen;
    }
    return "outside the window: " + printable(marker.tag) + ", " + distance + seen;
}

}  // namespace

int runMark(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    int status = exitOk;
    if (!parsePositional(arguments, parsed, status)) return status;
    if (parsed.positional.size() < 2) return usageError("mark needs a launcher file and at least one tag");
    const std::string file = parsed.positional.front();
    const std::vector<std::string> tags(parsed.positional.begin() + 1, parsed.positional.end());
    // Every tag is checked before anything is written: all or none go on.
    for (const std::string& tag : tags) {
        const std::string problem = tagProblem(tag);
        if (!problem.empty()) return usageError("tag " + printable(tag) + ": " + problem);
    }
    const std::string problem = launcherFileProblem(file);
    if (!problem.empty()) {
        printError(problem);
        return exitFailed;
    }
    std::string tail;
    uint64_t size = 0;
    std::string error;
    const std::string block = markerBlock(tags);
    if (!readFileTail(file, markerScanSize, tail, size, error) || !appendToFile(file, block, error)) {
        printError(error);
        return exitFailed;
    }
    std::string list;
    for (const std::string& tag : tags) list += (list.empty() ? "" : ", ") + printable(tag);
    printInfo(file + ": marked with " + list);
    for (const std::string& tag : tags) {
        if (!launcherSeesTag(tail + block, tag)) {
            printWarning(printable(tag) + " does not stand in the last " + std::to_string(markerWindowSize) +
                         " bytes of " + file + "; the launcher will not see it");
        }
    }
    return exitOk;
}

int runMarkers(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    int status = exitOk;
    if (!parsePositional(arguments, parsed, status)) return status;
    if (parsed.positional.size() != 1) return usageError("markers takes one launcher file");
    const std::string file = parsed.positional.front();
    const std::string problem = launcherFileProblem(file);
    if (!problem.empty()) {
        printError(problem);
        return exitFailed;
    }
    std::string tail;
    uint64_t size = 0;
    std::string error;
    if (!readFileTail(file, markerScanSize, tail, size, error)) {
        printError(error);
        return exitFailed;
    }
    const TailAnalysis analysis = analyseTail(tail, size);
    printInfo(file + ": " + std::to_string(size) + " bytes; the launcher reads the last " +
              std::to_string(markerWindowSize) + " (from offset " + std::to_string(analysis.windowOffset) + ")");
    size_t inside = 0;
    for (const MarkerFinding& marker : analysis.markers) {
        if (marker.place == MarkerPlace::inside) {
            // The launcher's windowHoldsTag decides, not the line's place.
            printInfo(marker.seenByLauncher ? "marker: " + printable(marker.tag)
                                            : "marker line the launcher does not find: " + printable(marker.tag));
            ++inside;
        } else {
            printInfo(placeText(marker));
        }
    }
    if (inside == 0) printInfo("no marker lines in the window");
    printInfo(std::string(msiMarkerTag) + (analysis.msiTagSeen
                                               ? ": seen by the launcher; silent runs (-s) take the MSI quiet form"
                                               : ": not seen by the launcher; silent runs (-s) pass -s -SMS"));
    return exitOk;
}
