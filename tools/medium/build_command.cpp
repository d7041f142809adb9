// kestrune-medium build PAYLOAD_DIR --out DIR [options] (usage.cpp lists them)
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "archive_check.h"
#include "archive_writer.h"
#include "authenticode.h"
#include "command_line.h"
#include "commands.h"
#include "default_programs.h"
#include "disc_image.h"
#include "file_io.h"
#include "host_program.h"
#include "installer.h"
#include "launch_plan.h"
#include "launcher/constants.h"
#include "layout.h"
#include "markers.h"
#include "marking.h"
#include "medium_names.h"
#include "name_rules.h"
#include "output_folder.h"
#include "package_password.h"
#include "payload.h"
#include "pe_file.h"
#include "progress.h"
#include "staging.h"

namespace {

// The disc image's name in its temporary folder, where it is written.
constexpr const char* stagedImageName = "image.iso";

struct BuildRequest {
    std::string payload;
    std::string out;    // the medium folder, or "" for a disc image only
    std::string iso;    // the disc image, or ""
    std::string label;  // the disc's
    std::string launcher;
    std::string extractor;
    std::vector<std::string> tags;
    bool force = false;
    bool anyMarker = false;
    bool defaultLauncher = false;  // no --launcher: found by findDefaultProgram
    bool defaultExtractor = false;
    ScanOptions scan;
    LaunchPlace place;
    bool reproducible = false;  // SOURCE_DATE_EPOCH is set
    time_t sourceDateEpoch = 0;
};

int failure(const std::string& message) {
    printError(message);
    return exitFailed;
}

std::string programProblem(const std::string& path, bool launcher) {
    const PathKind kind = pathKind(path);
    if (kind == PathKind::missing) return quoted(path) + " does not exist";
    if (kind != PathKind::file) return quoted(path) + " is not a file";
    if (launcher) return launcherProblem(path, packagePassword);
    const std::string problem = peFileProblem(path);
    return problem.empty() ? "" : quoted(path) + " is not a Windows PE program: " + problem;
}

// setup.exe as the build will write it: the launcher and the marker lines
// it does not hold yet (inside its signature when it is signed).
struct MarkerPlan {
    std::vector<std::string> appended;
    std::vector<std::string> alreadyThere;  // asked for, and already in the launcher
    bool intoSignature = false;
    std::string launcher;     // the bytes of setup.exe
    TailAnalysis after;       // of the written setup.exe's end
    MarkerFindings findings;  // of its marker lines, as mark judges them
};

bool planMarkers(const std::string& launcherBytes, const std::vector<std::string>& tags, MarkerPlan& plan,
                 std::string& error) {
    Marking marking;
    if (tags.empty()) {
        marking = unchangedProgram(launcherBytes);
    } else if (!markProgram(launcherBytes, tags, marking, error)) {
        error = "cannot put marker lines into the signature of the launcher: " + error;
        return false;
    }
    plan.appended = marking.added;
    plan.alreadyThere = marking.alreadyThere;
    plan.intoSignature = marking.intoSignature;
    plan.launcher = marking.bytes;
    plan.after = marking.after;
    plan.findings = marking.findings;
    return true;
}

// The launcher may find a known tag where it was not asked for: in another
// tag, or in what --launcher already held.
void warnAboutUnaskedTags(const MarkerPlan& plan, const BuildRequest& request) {
    for (const std::string& known : plan.after.knownTagsSeen) {
        if (std::find(request.tags.begin(), request.tags.end(), known) != request.tags.end()) continue;
        printWarning("the launcher finds \"" + known +
                     "\" in the end of setup.exe (as part of another marker or from " + quoted(request.launcher) +
                     "): " + knownTagEffect(known, true));
    }
}

bool parseBuild(const std::vector<std::string>& arguments, BuildRequest& request, int& status) {
    ParsedArguments parsed;
    if (!parseCommand("build", arguments, parsed, status)) return false;
    if (parsed.positional.size() != 1) {
        status = usageError(
            "build", parsed.positional.empty() ? "build needs a payload folder" : "build takes one payload folder");
        return false;
    }
    if (!parsed.has("--out") && !parsed.has("--iso")) {
        status = usageError("build",
                            "build needs --out DIR, the folder to lay the medium out in, or --iso FILE, "
                            "the disc image to write, or both");
        return false;
    }
    if (parsed.has("--label") && !parsed.has("--iso")) {
        status = usageError("build", "--label names the disc that --iso writes; give --iso FILE too");
        return false;
    }
    request.payload = parsed.positional.front();
    request.out = parsed.value("--out");
    request.iso = parsed.value("--iso");
    request.label = parsed.value("--label", defaultDiscLabel(request.iso));
    if (!request.iso.empty()) {
        const std::string problem = discLabelProblem(request.label);
        if (!problem.empty()) {
            status = usageError("build", (parsed.has("--label") ? "--label " + quoted(request.label)
                                                                : "the label from " + quoted(request.iso)) +
                                             ": " + problem + (parsed.has("--label") ? "" : "; give --label"));
            return false;
        }
    }
    request.defaultLauncher = !parsed.has("--launcher");
    request.defaultExtractor = !parsed.has("--extractor");
    request.launcher = parsed.value("--launcher");
    request.extractor = parsed.value("--extractor");
    request.tags = parsed.all("--marker");
    request.force = parsed.has("--force");
    request.anyMarker = parsed.has("--any-marker");
    request.scan.excludes = parsed.all("--exclude");
    request.scan.defaultExcludes = !parsed.has("--no-default-excludes");
    for (const std::string& tag : request.tags) {
        const std::string problem = markerTagProblem(tag, request.anyMarker);
        if (!problem.empty()) {
            status = usageError("build", "--marker " + quoted(tag) + ": " + problem);
            return false;
        }
    }
    std::string error;
    if (!launchPlaceFrom(parsed, request.place, error) ||
        !readSourceDateEpoch(request.reproducible, request.sourceDateEpoch, error)) {
        status = usageError("build", error);
        return false;
    }
    return true;
}

// The entries as Windows will spell their names.
std::vector<ArchiveEntryInfo> archiveEntries(const Payload& payload) {
    std::vector<ArchiveEntryInfo> entries;
    for (const PayloadEntry& entry : payload.entries) {
        const ArchiveName name{entry.name, marksUtf8(entry.name)};
        entries.push_back(ArchiveEntryInfo{windowsSpelling(name), entry.directory, entry.size});
    }
    return entries;
}

// What check says of the installer behind SETUP.EXE in a silent run, as a
// warning: check --strict takes a known mismatch for a problem.
void warnAboutInstaller(const PayloadEntry& setup, bool msiTagSeen) {
    std::string error;
    Descriptor file(openPayloadFile(setup, error));
    if (file.fd < 0) return;  // packing it names the reason
    InstallerScan scan;
    std::vector<char> buffer(1 << 16);
    for (ssize_t got; (got = read(file.fd, buffer.data(), buffer.size())) > 0;)
        scan.add(buffer.data(), static_cast<size_t>(got));
    const SilenceVerdict verdict = silenceOf(scan.result(), msiTagSeen ? SetupForm::msiQuiet : SetupForm::silent);
    if (verdict.known && !verdict.silent) {
        printWarning(std::string(setupProgramName) + " is " + installerName(scan.result().kind) + ": " + verdict.text +
                     "; to make it silent, " + verdict.advice);
    }
}

// Every problem `check` would report of the medium this payload makes, on
// its names and paths, and the payload's own (what cannot be packed), all
// at once; warnings are printed as they are found.
std::vector<std::string> packageProblems(const BuildRequest& request, const Payload& payload,
                                         const MarkerPlan& markers) {
    std::vector<std::string> problems = payload.problems;
    problems.insert(problems.end(), markers.findings.problems.begin(), markers.findings.problems.end());
    for (const std::string& warning : markers.findings.warnings) printWarning(warning);
    std::vector<std::string> names;
    for (const PayloadEntry& entry : payload.entries) names.push_back(entry.name);
    for (const NameFinding& finding : nameFindings(names)) {
        if (finding.refused) {
            problems.push_back("payload name " + finding.line());
        } else {
            printWarning("payload name " + finding.line());
        }
    }
    for (const PayloadEntry& entry : payload.entries) {
        const time_t when =
            request.reproducible && entry.modified > request.sourceDateEpoch ? request.sourceDateEpoch : entry.modified;
        const std::string warning = archiveTimeWarning(when);
        if (!warning.empty())
            printWarning("payload " + std::string(entry.directory ? "folder " : "file ") + quoted(entry.name) + ": " +
                         warning);
    }
    for (const PayloadEntry& entry : payload.entries) {
        if (entry.name != payload.setupEntry) continue;
        const std::string problem = peFileProblem(entry.hostPath);
        if (!problem.empty()) {
            problems.push_back(std::string(setupProgramName) + " is not a Windows program: " + problem);
        } else {
            warnAboutInstaller(entry, markers.after.msiTagSeen);
        }
    }
    const LaunchPlan plan =
        planLaunch(request.place, markers.after.msiTagSeen, packagePassword, archiveEntries(payload));
    problems.insert(problems.end(), plan.problems.begin(), plan.problems.end());
    return problems;
}

// Everything that can be refused is refused here, before any output exists.
bool prepare(const BuildRequest& request, Payload& payload, std::string& launcherBytes, std::string& imageTool,
             std::string& error) {
    error = programProblem(request.launcher, true);
    if (error.empty()) error = programProblem(request.extractor, false);
    if (error.empty() && !request.out.empty()) error = outputPlaceProblem(request.out, request.payload, homeFolders());
    if (error.empty() && !request.out.empty()) error = outputFolderProblem(request.out, request.force);
    if (error.empty() && !request.iso.empty()) {
        error = imageOutputProblem(request.iso, request.force, request.payload, request.out);
        imageTool = findOnPath(imageToolName);
        if (error.empty() && imageTool.empty()) error = missingProgramText(imageToolName, "to write a disc image");
    }
    if (!error.empty()) return false;
    ScanOptions scan = request.scan;
    scan.cancelled = interruptRequested;
    if (!scanPayload(request.payload, scan, payload, error)) return false;
    return readWholeFile(request.launcher, launcherBytes, error);
}

bool stopIfInterrupted(std::string& error) {
    if (interruptRequested()) error = "interrupted";
    return interruptRequested();
}

bool fillStaging(const BuildRequest& request, const Payload& payload, const MarkerPlan& markers, const Staging& staging,
                 std::string& error) {
    ArchiveWriteOptions options;
    options.password = packagePassword;
    options.showProgress = isatty(STDERR_FILENO) == 1;
    options.cancelled = interruptRequested;
    options.clampTimes = request.reproducible;
    options.latestTime = request.sourceDateEpoch;
    const std::string archive = joinHostPath(staging.path, packageFileName);
    if (!writePackageArchive(payload, archive, options, error)) return false;
    // Confirms that what was written stays within what unzip.exe reads.
    error = extractorDirectoryProblem(archive);
    if (!error.empty() || stopIfInterrupted(error)) return false;

    if (!writeNewFile(joinHostPath(staging.path, launcherFileName), markers.launcher, error) ||
        stopIfInterrupted(error)) {
        return false;
    }
    std::string extractorBytes;
    if (!readWholeFile(request.extractor, extractorBytes, error) ||
        !writeNewFile(joinHostPath(staging.path, extractorFileName), extractorBytes, error)) {
        return false;
    }
    // An autorun.inf the author put beside the old medium stays with the new one.
    const std::string autorun = joinHostPath(request.out, autorunFileName);
    std::string autorunBytes;
    struct stat status;
    if (request.force && !request.out.empty() && lstat(autorun.c_str(), &status) == 0 &&
        (!readWholeFile(autorun, autorunBytes, error, false) ||
         !writeNewFile(joinHostPath(staging.path, autorunFileName), autorunBytes, error))) {
        return false;
    }
    return !stopIfInterrupted(error);
}

std::string exclusionText(const Exclusion& exclusion) {
    std::string counts;
    if (exclusion.folders > 0) counts += countText(exclusion.folders, "folder", "folders");
    if (exclusion.files > 0) counts += (counts.empty() ? "" : ", ") + countText(exclusion.files, "file", "files");
    return quoted(exclusion.pattern) + " (" + counts + ")";
}

void printSummary(const BuildRequest& request, const Payload& payload, const MarkerPlan& markers,
                  uint64_t archiveSize) {
    std::string tags;
    for (const std::string& tag : markers.appended) tags += (tags.empty() ? "" : ", ") + printable(tag);
    std::string kept;
    for (const std::string& tag : markers.alreadyThere) kept += (kept.empty() ? "" : ", ") + printable(tag);
    if (!kept.empty()) tags += (tags.empty() ? "" : "; ") + kept + " already there";
    printInfo("medium: " + (request.out.empty() ? "in the disc image " + quoted(request.iso) : quoted(request.out)));
    printInfo(std::string("  ") + packageFileName + ": " + packedSizeText(archiveSize, payload.totalBytes) + "; " +
              countText(payload.entries.size(), "entry", "entries") + " (" +
              countText(payload.fileCount, "file", "files") + ", " +
              countText(payload.entries.size() - payload.fileCount, "folder", "folders") +
              "), files encrypted with the launcher's package password");
    std::string byDefault, byRequest;
    for (const Exclusion& exclusion : payload.exclusions) {
        if (exclusion.files + exclusion.folders == 0) continue;
        std::string& list = exclusion.byDefault ? byDefault : byRequest;
        list += (list.empty() ? "" : ", ") + exclusionText(exclusion);
    }
    if (!byDefault.empty()) printInfo("  left out by default: " + byDefault + " (packed with --no-default-excludes)");
    if (!byRequest.empty()) printInfo("  left out by --exclude: " + byRequest);
    if (request.reproducible) {
        printInfo("  times: none later than SOURCE_DATE_EPOCH " + std::to_string(request.sourceDateEpoch) + ", in UTC");
    }
    printInfo(std::string("  ") + launcherFileName + ": from " + quoted(request.launcher) +
              (tags.empty() ? ", no markers" : ", markers: " + tags) +
              (markers.intoSignature ? " (inside its signature, which stays valid)" : ""));
    printInfo(std::string("  ") + extractorFileName + ": from " + quoted(request.extractor));
    if (!request.out.empty() && pathKind(joinHostPath(request.out, autorunFileName)) == PathKind::file) {
        printInfo(std::string("  ") + autorunFileName + ": kept from the medium it replaced");
    }
    if (!request.iso.empty()) {
        struct stat image;
        const uint64_t imageSize = stat(request.iso.c_str(), &image) == 0 ? static_cast<uint64_t>(image.st_size) : 0;
        printInfo("disc image: " + quoted(request.iso) + ", " + sizeText(imageSize) +
                  ", ISO 9660 with Joliet names, "
                  "labelled " +
                  quoted(request.label) + "; " + launcherFileName + ", " + extractorFileName + ", " + packageFileName +
                  " and an " + autorunFileName + " that starts " + launcherFileName);
    }
}

// The disc image, made in its own temporary folder beside it from the
// medium's files in `mediumFolder` and an autorun.inf.
bool makeDiscImage(const BuildRequest& request, const std::string& imageTool, const std::string& mediumFolder,
                   Staging& staging, std::string& error) {
    const std::string autorun = joinHostPath(staging.path, autorunFileName);
    if (!writeNewFile(autorun, autorunText(request.label), error)) return false;
    std::vector<DiscFile> files;
    for (const char* name : {launcherFileName, extractorFileName, packageFileName}) {
        files.push_back(DiscFile{name, joinHostPath(mediumFolder, name)});
    }
    files.push_back(DiscFile{autorunFileName, autorun});
    return writeDiscImage(imageTool, files, request.label, request.reproducible ? request.sourceDateEpoch : -1,
                          joinHostPath(staging.path, stagedImageName), error) &&
           !stopIfInterrupted(error);
}

void printNotes(Staging& staging) {
    for (const std::string& note : staging.notes) printWarning(note);
    staging.notes.clear();
}

// A medium's own files are never read through a link; --extractor may be one.
bool isSignedProgram(const std::string& path, bool followLink) {
    std::string bytes, error;
    return readWholeFile(path, bytes, error, followLink) && readSignatureLayout(bytes).isSigned;
}

// The programs of a medium folder that are signed.
std::vector<std::string> signedProgramsIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const char* name : {launcherFileName, extractorFileName}) {
        if (isSignedProgram(joinHostPath(folder, name), false)) names.push_back(name);
    }
    return names;
}

// The signed programs of what --force replaces, read before it is replaced:
// those of the medium folder, and those of the disc image (copied out).
struct ReplacedSignatures {
    std::vector<std::string> folder;
    std::vector<std::string> image;
};

ReplacedSignatures signedProgramsReplaced(const BuildRequest& request, const std::string& imageTool) {
    ReplacedSignatures replaced;
    if (!request.force) return replaced;
    if (!request.out.empty() && pathKind(request.out) == PathKind::directory) {
        replaced.folder = signedProgramsIn(request.out);
    }
    if (request.iso.empty() || pathKind(request.iso) != PathKind::file || !isDiscImage(request.iso)) return replaced;
    DiscListing listing;
    DiscCopy copy(false);
    std::string error;
    if (copy.path.empty() || !readDiscImage(imageTool, request.iso, listing, error)) return replaced;
    std::vector<std::string> programs;
    for (const char* name : {launcherFileName, extractorFileName}) {
        if (std::find(listing.files.begin(), listing.files.end(), name) != listing.files.end()) {
            programs.push_back(name);
        }
    }
    if (extractFromDiscImage(imageTool, request.iso, programs, copy.path, error)) {
        replaced.image = signedProgramsIn(copy.path);
    }
    return replaced;
}

// A medium rebuilt over a signed one is no longer signed unless its new
// programs are: said, rather than dropped silently.
void warnAboutLostSignatures(const BuildRequest& request, const ReplacedSignatures& replaced,
                             const MarkerPlan& markers) {
    const auto warn = [&](const std::vector<std::string>& signedBefore, const std::string& what,
                          const std::string& path) {
        std::vector<std::string> lost;
        for (const std::string& name : signedBefore) {
            const bool signedNow = name == launcherFileName ? readSignatureLayout(markers.launcher).isSigned
                                                            : isSignedProgram(request.extractor, true);
            if (!signedNow) lost.push_back(name);
        }
        if (lost.empty()) return;
        const std::string which = lost.size() == 1 ? lost[0] + " is" : lost[0] + " and " + lost[1] + " are";
        printWarning(what + " " + quoted(path) + " was signed; in the new one " + which +
                     " not: sign it with kestrune-medium sign " + quoted(path) + " --cert CERT --key KEY");
    };
    warn(replaced.folder, "the medium folder", request.out);
    warn(replaced.image, "the disc image", request.iso);
}

// What an interruption says was written, or not.
std::string folderOutput(const BuildRequest& request) { return "the medium folder " + quoted(request.out); }
std::string imageOutput(const BuildRequest& request) { return "the disc image " + quoted(request.iso); }

int buildMedium(const BuildRequest& request) {
    if (!request.out.empty()) planOutput(folderOutput(request));
    if (!request.iso.empty()) planOutput(imageOutput(request));
    Payload payload;
    std::string launcherBytes;
    std::string imageTool;
    std::string error;
    if (!prepare(request, payload, launcherBytes, imageTool, error)) {
        return interruptRequested() ? exitFailed : failure(error);
    }
    for (const Exclusion& exclusion : payload.exclusions) {
        if (!exclusion.byDefault && exclusion.files + exclusion.folders == 0) {
            printWarning("--exclude " + quoted(exclusion.pattern) + " matches nothing in the payload");
        }
    }
    MarkerPlan markers;
    if (!planMarkers(launcherBytes, request.tags, markers, error)) return failure(error);
    const std::vector<std::string> problems = packageProblems(request, payload, markers);
    if (!problems.empty()) {
        for (const std::string& problem : problems) printError(problem);
        return failure("no medium was made: " + countText(problems.size(), "problem", "problems") +
                       " (each on a line above)");
    }
    warnAboutUnaskedTags(markers, request);
    const ReplacedSignatures signedBefore = signedProgramsReplaced(request, imageTool);
    if (interruptRequested()) return exitFailed;

    // The folder's temporary copy, the disc image's temporary folder, or both;
    // the image is made from the folder's copy when there is one.
    Staging folder, image;
    std::string mediumFolder;
    bool built = true;
    if (!request.out.empty()) {
        built = createStaging(request.out, folder, error);
        printNotes(folder);
        built = built && fillStaging(request, payload, markers, folder, error);
        mediumFolder = folder.path;
    }
    if (built && !request.iso.empty()) {
        built = createStaging(request.iso, image, error);
        printNotes(image);
        if (built && mediumFolder.empty()) {
            built = fillStaging(request, payload, markers, image, error);
            mediumFolder = image.path;
        }
        built = built && makeDiscImage(request, imageTool, mediumFolder, image, error);
    }
    struct stat archive;
    const std::string archivePath = joinHostPath(mediumFolder, packageFileName);
    const uint64_t archiveSize = stat(archivePath.c_str(), &archive) == 0 ? static_cast<uint64_t>(archive.st_size) : 0;
    built = built && !stopIfInterrupted(error) && (request.out.empty() || commitStaging(folder, request.force, error));
    printNotes(folder);
    const bool folderMade = built && !request.out.empty();
    if (folderMade) noteWritten(folderOutput(request));
    built = built && (request.iso.empty() || commitStagedFile(image, stagedImageName, request.force, error));
    printNotes(image);
    if (built && !request.iso.empty()) noteWritten(imageOutput(request));
    discardStaging(folder);
    discardStaging(image);
    if (!built) {
        if (interruptRequested()) return exitFailed;
        return failure(folderMade ? "no disc image was made: " + error + "; the medium folder " + quoted(request.out) +
                                        " was made"
                                  : "no medium was made: " + error);
    }
    printSummary(request, payload, markers, archiveSize);
    warnAboutLostSignatures(request, signedBefore, markers);
    return exitOk;
}

}  // namespace

int runBuild(const std::vector<std::string>& arguments) {
    BuildRequest request;
    int status = exitOk;
    if (!parseBuild(arguments, request, status)) return status;
    // Without --launcher or --extractor, the ones installed beside this
    // program (or its build tree's); none found is a failure, not a wrong
    // command line.
    for (const bool launcher : {true, false}) {
        if (!(launcher ? request.defaultLauncher : request.defaultExtractor)) continue;
        std::string& path = launcher ? request.launcher : request.extractor;
        const DefaultProgram found = findDefaultProgram(launcher);
        if (found.path.empty()) {
            return failure("no default " + std::string(launcher ? launcherFileName : extractorFileName) + ": " +
                           found.problem);
        }
        path = found.path;
    }
    // From here a signal only sets a flag: the build ends at the next step,
    // removes what it made and says so.
    installInterruptHandlers();
    const int result = buildMedium(request);
    reraiseInterrupt();
    return result;
}
