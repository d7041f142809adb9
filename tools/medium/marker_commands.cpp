// kestrune-medium mark FILE TAG... [--any-marker] [--any-file]   and   kestrune-medium markers FILE
#include <algorithm>
#include <cstdio>

#include "command_line.h"
#include "commands.h"
#include "file_io.h"
#include "launcher/constants.h"
#include "layout.h"
#include "markers.h"
#include "marking.h"
#include "package_password.h"
#include "pe_file.h"
#include "progress.h"
#include "signature_report.h"
#include "staging.h"

namespace {

std::string programFileProblem(const std::string& path) {
    const PathKind kind = pathKind(path);
    if (kind == PathKind::missing) return quoted(path) + " does not exist";
    if (kind != PathKind::file) return quoted(path) + " is not a file";
    const std::string problem = peFileProblem(path);
    return problem.empty() ? "" : quoted(path) + " is not a Windows PE launcher: " + problem;
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

// What the launcher makes of a tag it sees, for the `markers` list.
std::string tagNote(const std::string& tag) {
    for (const char* known : knownMarkerTags) {
        if (tag == known) return "";
    }
    if (const char* meant = nearMissOf(tag)) return std::string(" (not ") + meant + ": the launcher compares exactly)";
    return " (not a tag the launcher acts on)";
}

std::string listText(const std::vector<std::string>& tags) {
    std::string list;
    for (const std::string& tag : tags) list += (list.empty() ? "" : ", ") + printable(tag);
    return list;
}

// What an interruption says was written, or not.
std::string markerOutput(const std::string& file) { return "the marked launcher " + quoted(file); }

int markFile(const std::string& file, const std::vector<std::string>& tags, bool anyFile) {
    planOutput(markerOutput(file));
    std::string problem = programFileProblem(file);
    if (!problem.empty()) {
        printError(problem);
        return exitFailed;
    }
    // The password check `check` makes: only a launcher of this build is
    // marked unless the user says otherwise.
    problem = anyFile ? "" : launcherProblem(file, packagePassword);
    if (!problem.empty()) {
        printError(problem + "; give --any-file to mark it all the same");
        return exitFailed;
    }
    std::string bytes;
    std::string error;
    Marking marking;
    if (!readWholeFile(file, bytes, error) || !markProgram(bytes, tags, marking, error)) {
        printError(bytes.empty() ? error : quoted(file) + ": " + error);
        return exitFailed;
    }
    // The rule build applies to what it writes: every marker line of the
    // result where the launcher sees it, or nothing is written.
    if (!marking.findings.problems.empty()) {
        for (const std::string& line : marking.findings.problems) printError(line);
        printError("no marker line was written to " + quoted(file) + ": " +
                   countText(marking.findings.problems.size(), "problem", "problems") + " (each on a line above)");
        return exitFailed;
    }
    for (const std::string& warning : marking.findings.warnings) printWarning(warning);
    if (!marking.alreadyThere.empty()) {
        printInfo(quoted(file) + ": already marked with " + listText(marking.alreadyThere) + "; not appended again");
    }
    if (marking.bytes == bytes) return exitOk;
    if (interruptRequested()) return exitFailed;
    // An unsigned file only grows; a signed one gets a new signature block.
    const bool written = marking.intoSignature ? replaceFile(file, marking.bytes, error)
                                               : appendToFile(file, marking.bytes.substr(bytes.size()), error);
    if (!written) {
        printError(error);
        return exitFailed;
    }
    noteWritten(markerOutput(file));
    const std::string where = marking.intoSignature ? " (inside its signature, which stays valid)" : "";
    if (!marking.added.empty()) {
        printInfo(quoted(file) + ": marked with " + listText(marking.added) + where);
    } else {
        printInfo(quoted(file) + ": its marker lines now stand inside its signature, which stays valid");
    }
    return exitOk;
}

}  // namespace

int runMark(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    int status = exitOk;
    if (!parseCommand("mark", arguments, parsed, status)) return status;
    if (parsed.positional.size() < 2) return usageError("mark", "mark needs a launcher file and at least one tag");
    const std::string file = parsed.positional.front();
    const std::vector<std::string> tags(parsed.positional.begin() + 1, parsed.positional.end());
    // Every tag is checked before anything is written: all or none go on.
    for (const std::string& tag : tags) {
        const std::string problem = markerTagProblem(tag, parsed.has("--any-marker"));
        if (!problem.empty()) return usageError("mark", "tag " + quoted(tag) + ": " + problem);
    }
    // A signal before the append leaves the file as it was, and says so.
    installInterruptHandlers();
    const int result = markFile(file, tags, parsed.has("--any-file"));
    reraiseInterrupt();
    return result;
}

int runMarkers(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    int status = exitOk;
    if (!parseCommand("markers", arguments, parsed, status)) return status;
    if (parsed.positional.size() != 1) return usageError("markers", "markers takes one launcher file");
    const std::string file = parsed.positional.front();
    const std::string problem = programFileProblem(file);
    if (!problem.empty()) {
        printError(problem);
        return exitFailed;
    }
    std::string bytes;
    std::string error;
    if (!readWholeFile(file, bytes, error)) {
        printError(error);
        return exitFailed;
    }
    const TailAnalysis analysis = analyseProgram(bytes);
    printInfo(quoted(file) + ": " + std::to_string(analysis.fileSize) + " bytes; the launcher reads the last " +
              std::to_string(markerWindowSize) + " (from offset " + std::to_string(analysis.windowOffset) + ")");
    const SignatureReport signature = reportSignature(bytes, file, "", parsed.value(caFileOption.name));
    for (const std::string& line : signature.info) printInfo(line);
    size_t inside = 0;
    for (const MarkerFinding& marker : analysis.markers) {
        if (marker.place == MarkerPlace::inside) {
            // The launcher's windowHoldsTag decides, not the line's place.
            printInfo(marker.seenByLauncher ? "marker: " + printable(marker.tag) + tagNote(marker.tag)
                                            : "marker line the launcher does not find: " + printable(marker.tag));
            ++inside;
        } else {
            printInfo(placeText(marker));
        }
    }
    if (inside == 0) printInfo("no marker lines in the window");
    for (const char* known : knownMarkerTags) {
        const bool seen = std::find(analysis.knownTagsSeen.begin(), analysis.knownTagsSeen.end(), known) !=
                          analysis.knownTagsSeen.end();
        printInfo(std::string(known) + (seen ? ": seen by the launcher; " : ": not seen by the launcher; ") +
                  knownTagEffect(known, seen));
    }
    std::vector<std::string> problems = markerFindings(analysis).problems;
    problems.insert(problems.end(), signature.problems.begin(), signature.problems.end());
    std::fflush(stdout);
    for (const std::string& warning : signature.warnings) printWarning(warning);
    for (const std::string& line : problems) printInfo("problem: " + line);
    if (signature.isSigned && !markerFindings(analysis).problems.empty())
        printInfo(std::string("hint: ") + markersIntoSignatureHint);
    return problems.empty() ? exitOk : exitFailed;
}
