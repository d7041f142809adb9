// kestrune-medium build PAYLOAD_DIR --out DIR [--launcher setup.exe]
//     [--extractor unzip.exe] [--marker TAG]... [--force]
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "archive_check.h"
#include "archive_writer.h"
#include "command_line.h"
#include "commands.h"
#include "file_io.h"
#include "launcher/constants.h"
#include "layout.h"
#include "markers.h"
#include "medium_names.h"
#include "package_password.h"
#include "payload.h"
#include "pe_file.h"
#include "progress.h"
#include "staging.h"

namespace {

struct BuildRequest {
    std::string payload;
    std::string out;
    std::string launcher;
    std::string extractor;
    std::vector<std::string> tags;
    bool force = false;
    bool defaultLauncher = false;
    bool defaultExtractor = false;
};

int usageError(const std::string& message) {
    printError(message);
    std::fprintf(stderr, "see: kestrune-medium --help\n");
    return exitUsage;
}

int failure(const std::string& message) {
    printError(message);
    return exitFailed;
}

std::string resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) != nullptr ? buffer : "";
}

// The output's absolute path, for a folder that need not exist yet.
std::string resolvedTarget(const std::string& target) {
    std::string trimmed = target;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
    const std::string parentPath = resolved(parent);
    return parentPath.empty() ? "" : joinHostPath(parentPath, trimmed.substr(slash + 1));
}

bool within(const std::string& inner, const std::string& outer) {
    return inner == outer || inner.compare(0, outer.size() + 1, outer + "/") == 0;
}

// Replacing a medium removes the old folder: it must not be, hold or lie
// in the payload.
std::string overlapProblem(const BuildRequest& request) {
    const std::string payload = resolved(request.payload);
    const std::string target = resolvedTarget(request.out);
    if (payload.empty() || target.empty()) return "";
    if (within(payload, target)) return "the payload " + request.payload + " lies in the output " + request.out;
    if (within(target, payload)) return "the output " + request.out + " lies in the payload " + request.payload;
    return "";
}

std::string programProblem(const std::string& path, bool isDefault, const char* option, bool launcher) {
    const PathKind kind = pathKind(path);
    if (kind == PathKind::missing) {
        return isDefault ? "no " + std::string(launcher ? launcherFileName : extractorFileName) + " at " + path +
                               " (the default); build the product with scripts/build.sh or give " + option
                         : path + " does not exist";
    }
    if (kind != PathKind::file) return path + " is not a file";
    if (launcher) return launcherProblem(path, packagePassword);
    const std::string problem = peFileProblem(path);
    return problem.empty() ? "" : path + " is not a Windows PE program: " + problem;
}

// What the launcher will see of the markers once they stand behind it.
void warnAboutMarkers(const std::string& launcherBytes, const BuildRequest& request) {
    const std::string block = markerBlock(request.tags);
    const size_t keep = launcherBytes.size() < markerScanSize ? launcherBytes.size() : markerScanSize;
    const std::string tail = launcherBytes.substr(launcherBytes.size() - keep) + block;
    const TailAnalysis analysis = analyseTail(tail, launcherBytes.size() + block.size());
    for (const std::string& tag : request.tags) {
        if (!launcherSeesTag(tail, tag)) {
            printWarning("the marker lines take " + std::to_string(block.size()) + " bytes, more than the last " +
                         std::to_string(markerWindowSize) + " the launcher reads: it would not see " + printable(tag));
        }
    }
    bool msiAsked = false;
    for (const std::string& tag : request.tags) msiAsked = msiAsked || tag == msiMarkerTag;
    if (analysis.msiTagSeen && !msiAsked) {
        printWarning(std::string("the launcher finds \"") + msiMarkerTag +
                     "\" in the end of setup.exe (as part of another marker or from " + request.launcher +
                     "): silent runs will take the MSI quiet form");
    }
}

bool parseBuild(const std::vector<std::string>& arguments, BuildRequest& request, int& status) {
    static const std::vector<OptionRule> rules = {
        {"--out", true, false},       {"--launcher", true, false}, {"--extractor", true, false},
        {"--marker", true, true},     {"--force", false, false},   {"--help", false, false},
    };
    ParsedArguments parsed;
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
    if (parsed.positional.size() != 1) {
        status = usageError(parsed.positional.empty() ? "build needs a payload folder" : "build takes one payload folder");
        return false;
    }
    if (!parsed.has("--out")) {
        status = usageError("build needs --out DIR, the folder to lay the medium out in");
        return false;
    }
    request.payload = parsed.positional.front();
    request.out = parsed.value("--out");
    request.defaultLauncher = !parsed.has("--launcher");
    request.defaultExtractor = !parsed.has("--extractor");
    request.launcher = parsed.value("--launcher", KESTRUNE_DEFAULT_LAUNCHER);
    request.extractor = parsed.value("--extractor", KESTRUNE_DEFAULT_EXTRACTOR);
    request.tags = parsed.all("--marker");
    request.force = parsed.has("--force");
    for (const std::string& tag : request.tags) {
        const std::string problem = tagProblem(tag);
        if (!problem.empty()) {
            status = usageError("--marker " + printable(tag) + ": " + problem);
            return false;
        }
    }
    return true;
}

// Everything that can be refused is refused here, before any output exists.
bool prepare(const BuildRequest& request, Payload& payload, std::string& launcherBytes, std::string& error) {
    error = programProblem(request.launcher, request.defaultLauncher, "--launcher", true);
    if (error.empty()) error = programProblem(request.extractor, request.defaultExtractor, "--extractor", false);
    if (error.empty()) error = targetProblem(request.out, request.force);
    if (error.empty()) error = overlapProblem(request);
    if (!error.empty()) return false;
    if (!scanPayload(request.payload, payload, error)) return false;
    return readWholeFile(request.launcher, launcherBytes, error);
}

bool stopIfInterrupted(std::string& error) {
    if (interruptRequested()) error = "interrupted";
    return interruptRequested();
}

bool fillStaging(const BuildRequest& request, const Payload& payload, const std::string& launcherBytes,
                 const Staging& staging, std::string& error) {
    ArchiveWriteOptions options;
    options.password = packagePassword;
    options.showProgress = isatty(STDERR_FILENO) == 1;
    options.cancelled = interruptRequested;
    const std::string archive = joinHostPath(staging.path, packageFileName);
    if (!writePackageArchive(payload, archive, options, error) || !syncPath(archive, error)) return false;
    // Confirms that what libzip wrote stays within what unzip.exe reads.
    error = extractorDirectoryProblem(archive);
    if (!error.empty() || stopIfInterrupted(error)) return false;

    if (!writeNewFile(joinHostPath(staging.path, launcherFileName), launcherBytes + markerBlock(request.tags), error) ||
        stopIfInterrupted(error)) {
        return false;
    }
    std::string extractorBytes;
    return readWholeFile(request.extractor, extractorBytes, error) &&
           writeNewFile(joinHostPath(staging.path, extractorFileName), extractorBytes, error) &&
           !stopIfInterrupted(error);
}

void printSummary(const BuildRequest& request, const Payload& payload) {
    std::string tags;
    for (const std::string& tag : request.tags) tags += (tags.empty() ? "" : ", ") + printable(tag);
    printInfo("medium: " + request.out);
    printInfo(std::string("  ") + packageFileName + ": " + countText(payload.entries.size(), "entry", "entries") + " (" +
              countText(payload.fileCount, "file", "files") + ", " +
              countText(payload.entries.size() - payload.fileCount, "folder", "folders") + ", " +
              sizeText(payload.totalBytes) + "), encrypted with the launcher's package password");
    printInfo(std::string("  ") + launcherFileName + ": from " + request.launcher +
              (tags.empty() ? ", no markers" : ", markers: " + tags));
    printInfo(std::string("  ") + extractorFileName + ": from " + request.extractor);
}

}  // namespace

int runBuild(const std::vector<std::string>& arguments) {
    BuildRequest request;
    int status = exitOk;
    if (!parseBuild(arguments, request, status)) return status;

    Payload payload;
    std::string launcherBytes;
    std::string error;
    if (!prepare(request, payload, launcherBytes, error)) return failure(error);
    for (const std::string& warning : payload.warnings) printWarning(warning);
    const PayloadEntry* setup = nullptr;
    for (const PayloadEntry& entry : payload.entries) {
        if (entry.name == setupProgramName) setup = &entry;
    }
    const std::string setupProblem = setup != nullptr ? peFileProblem(setup->hostPath) : "";
    if (!setupProblem.empty()) printWarning(std::string(setupProgramName) + " is not a Windows program: " + setupProblem);
    warnAboutMarkers(launcherBytes, request);

    // Until now nothing was written, so a signal may simply end the tool;
    // from here on it must first remove the temporary folder.
    installInterruptHandlers();
    Staging staging;
    if (!createStaging(request.out, staging, error)) return failure(error);
    const bool built = fillStaging(request, payload, launcherBytes, staging, error) &&
                       !stopIfInterrupted(error) && commitStaging(staging, request.force, error);
    if (!built) {
        discardStaging(staging);
        reraiseInterrupt();
        return failure("no medium was made: " + error);
    }
    printSummary(request, payload);
    return exitOk;
}
