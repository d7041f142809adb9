// kestrune-medium check MEDIUM [options] (usage.cpp lists them)
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "archive_check.h"
#include "command_line.h"
#include "commands.h"
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
#include "package_password.h"
#include "progress.h"
#include "signature_report.h"

namespace {

// Lines in the order they are found; problems are counted for the status.
// A medium read out of a disc image is checked in a temporary folder,
// which the lines call by the image's name.
struct CheckReport {
    size_t problems = 0;
    std::string copyFolder;  // where the disc image's files were copied to
    std::string imageName;   // what the lines call that folder instead

    std::string shown(const std::string& line) const {
        std::string text = line;
        if (!copyFolder.empty()) {
            for (size_t at = text.find(copyFolder); at != std::string::npos; at = text.find(copyFolder, at)) {
                text.replace(at, copyFolder.size(), imageName);
                at += imageName.size();
            }
        }
        return text;
    }
    void info(const std::string& line) { printInfo(shown(line)); }
    void problem(const std::string& line) {
        info("problem: " + line);
        ++problems;
    }
    void problemsFrom(const std::vector<std::string>& lines) {
        for (const std::string& line : lines) problem(line);
    }
    // On stderr, as every command's warnings: the report on stdout holds
    // what the medium is and its problems.
    void warning(const std::string& line) {
        std::fflush(stdout);
        printWarning(shown(line));
    }
    void warningsFrom(const std::vector<std::string>& lines) {
        for (const std::string& line : lines) warning(line);
    }
};

void reportSignatureOf(const std::string& path, const std::string& name, const std::string& bytes,
                       const std::string& caFile, CheckReport& report, bool& isSigned) {
    const SignatureReport signature = reportSignature(bytes, path, name, caFile);
    for (const std::string& line : signature.info) report.info(line);
    report.warningsFrom(signature.warnings);
    report.problemsFrom(signature.problems);
    isSigned = signature.isSigned;
}

// The markers and signature of setup.exe, and whether the launcher sees
// msi.tag.
bool reportMarkers(const std::string& launcher, const std::string& caFile, CheckReport& report) {
    std::string bytes;
    std::string error;
    if (!readWholeFile(launcher, bytes, error)) {
        report.problem(error);
        return false;
    }
    bool isSigned = false;
    reportSignatureOf(launcher, launcherFileName, bytes, caFile, report, isSigned);
    const TailAnalysis analysis = analyseProgram(bytes);
    std::string seen;
    for (const MarkerFinding& marker : analysis.markers) {
        if (marker.place == MarkerPlace::inside && marker.seenByLauncher) {
            seen += (seen.empty() ? "" : ", ") + printable(marker.tag);
        }
    }
    const MarkerFindings findings = markerFindings(analysis);
    const std::string where = findings.problems.empty() && !seen.empty()
                                  ? std::string(" (every marker line stands in the last ") +
                                        std::to_string(markerWindowSize) + " bytes" +
                                        (isSigned ? ", inside the signature)" : ")")
                                  : "";
    report.info("markers: " + (seen.empty() ? std::string("none") : seen) + where);
    report.info("exit codes: " + knownTagEffect(exitCodeMarkerTag, launcherSeesTag(bytes, exitCodeMarkerTag)));
    report.warningsFrom(findings.warnings);
    report.problemsFrom(findings.problems);
    if (isSigned && !findings.problems.empty()) report.info(std::string("hint: ") + markersIntoSignatureHint);
    return analysis.msiTagSeen;
}

void reportExtractorSignature(const std::string& extractor, const std::string& caFile, CheckReport& report) {
    std::string bytes;
    std::string error;
    bool isSigned = false;
    if (readWholeFile(extractor, bytes, error))
        reportSignatureOf(extractor, extractorFileName, bytes, caFile, report, isSigned);
}

std::string silentFormText(SetupForm form) {
    return form == SetupForm::msiQuiet
               ? std::string("MSI quiet form, /qn REBOOT=ReallySuppress (the ") + msiMarkerTag + " marker is seen)"
               : std::string("silent form, -s -SMS (no ") + msiMarkerTag + " marker is seen)";
}

// The command lines are shown only with a launcher to run them; the paths
// must fit whatever it will be.
void reportPlan(const LaunchPlan& plan, bool launcherUsable, CheckReport& report) {
    report.info("package directory: " + quoted(plan.packageDirectory) +
                "; temporary path: " + quoted(plan.temporaryPath));
    if (launcherUsable) {
        for (const LaunchStep& step : plan.steps) {
            if (step.text.empty()) continue;  // its problem line says why
            const std::string length =
                std::to_string(step.text.size()) + " of " + std::to_string(longestPath) + " characters";
            const bool isPath = step.what == "launcher path" || step.what == "work directory";
            const std::string shown = step.secret ? "(not shown: it holds the password)"
                                      : isPath    ? quoted(step.text)
                                                  : printable(step.text);
            report.info(step.what + ": " + shown + " [" + length + "]");
        }
        report.info("a silent run (-s) uses the " + silentFormText(plan.silentForm));
    } else {
        report.info(std::string("command lines: not shown without a usable ") + launcherFileName);
    }
    report.problemsFrom(plan.problems);
}

// Whether the silent form the medium passes makes the installer behind
// SETUP.EXE silent. A known mismatch is a warning, or with --strict a problem.
void reportInstaller(const ArchiveReport& archive, SetupForm silentForm, bool strict, CheckReport& report) {
    if (!archive.setupRead) return;
    const SilenceVerdict verdict = silenceOf(archive.setupInstaller, silentForm);
    if (verdict.silent || !verdict.known) {
        report.info(std::string(setupProgramName) + ": " + verdict.text);
        return;
    }
    const std::string line =
        std::string(setupProgramName) + " is " + installerName(archive.setupInstaller.kind) + ": " + verdict.text;
    if (strict) {
        report.problem(line);
    } else {
        report.warning(line);
    }
    report.info("hint: to make it silent, " + verdict.advice);
}

std::string listText(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + printable(name);
    return text.empty() ? "nothing" : text;
}

// Reads the disc image through xorriso and copies the medium's files out of
// it into `copy`; what it says of the image itself goes to `report`. False
// when the image cannot be read at all.
bool copyMediumOutOfImage(const std::string& image, const DiscCopy& copy, CheckReport& report) {
    const std::string tool = findOnPath(imageToolName);
    if (tool.empty()) {
        report.problem(missingProgramText(imageToolName, "to read a disc image"));
        return false;
    }
    DiscListing listing;
    std::string error;
    if (copy.path.empty()) error = "cannot create a temporary folder: " + systemErrorText(errno);
    if (!error.empty() || !readDiscImage(tool, image, listing, error)) {
        report.problem(error);
        return false;
    }
    report.info("disc image: ISO 9660, " + std::string(listing.joliet ? "Joliet names" : "no Joliet names") +
                ", labelled " + quoted(listing.label) + "; at its root: " + listText(listing.files) +
                (listing.folders.empty() ? "" : "; folders: " + listText(listing.folders)));
    if (!listing.joliet) {
        report.warning("the disc image has no Joliet names: Windows shows its names in capitals, as 8.3 names");
    }
    std::vector<std::string> copied;
    for (const char* name : mediumFolderNames) {
        if (std::find(listing.files.begin(), listing.files.end(), name) != listing.files.end()) copied.push_back(name);
    }
    if (!extractFromDiscImage(tool, image, copied, copy.path, error)) {
        report.problem(error);
        return false;
    }
    report.copyFolder = copy.path;
    report.imageName = image + ":";
    std::string autorun;
    if (std::find(copied.begin(), copied.end(), autorunFileName) == copied.end()) {
        report.warning(std::string("the disc image has no ") + autorunFileName +
                       ": inserting the disc does not offer to "
                       "start " +
                       launcherFileName);
    } else if (readWholeFile(joinHostPath(copy.path, autorunFileName), autorun, error, false)) {
        const std::string problem = autorunProblem(autorun);
        if (!problem.empty()) {
            report.warning(std::string(autorunFileName) + " does not start " + launcherFileName + ": " + problem);
        }
    }
    return true;
}

}  // namespace

int runCheck(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    int status = exitOk;
    if (!parseCommand("check", arguments, parsed, status)) return status;
    const std::string caFile = parsed.value(caFileOption.name);
    if (parsed.positional.size() != 1) return usageError("check", "check takes one medium folder");
    const std::string medium = parsed.positional.front();
    LaunchPlace place;
    std::string error;
    if (!launchPlaceFrom(parsed, place, error)) return usageError("check", error);

    CheckReport report;
    std::string directory = medium;
    // A disc image is checked as the folder its files make.
    const bool image = pathKind(medium) == PathKind::file && isDiscImage(medium);
    DiscCopy copy(image);
    if (image) {
        report.info("medium: " + quoted(medium) + " (a disc image)");
        if (!copyMediumOutOfImage(medium, copy, report)) {
            report.info("check: " + std::to_string(report.problems) +
                        (report.problems == 1 ? " problem" : " problems"));
            return exitFailed;
        }
        directory = copy.path;
    } else {
        report.info("medium: " + quoted(directory));
    }
    const LayoutReport layout = checkLayout(directory, packagePassword);
    for (const std::string& line : layout.info) report.info(line);
    report.problemsFrom(layout.problems);

    bool msiSeen = false;
    if (layout.launcherUsable) msiSeen = reportMarkers(joinHostPath(directory, launcherFileName), caFile, report);
    if (layout.extractorUsable) reportExtractorSignature(joinHostPath(directory, extractorFileName), caFile, report);

    ArchiveReport archive;
    if (layout.packagePresent) {
        archive =
            checkPackageArchive(joinHostPath(directory, packageFileName), packagePassword, isatty(STDERR_FILENO) == 1);
        if (archive.opened) {
            report.info(std::string(packageFileName) + ": " + packedSizeText(archive.archiveSize, archive.bytes) +
                        "; " + countText(archive.entries.size(), "entry", "entries") + " (" +
                        countText(archive.files, "file", "files") + ", " +
                        countText(archive.directories, "folder", "folders") + "); " + std::to_string(archive.verified) +
                        " of " + countText(archive.encrypted, "encrypted entry", "encrypted entries") +
                        " open with the package password and pass their CRC check");
        }
        for (const std::string& line : archive.notes) report.info(line);
        report.warningsFrom(archive.warnings);
        report.problemsFrom(archive.problems);
    }
    if (layout.directoryExists) {
        const LaunchPlan plan = planLaunch(place, msiSeen, packagePassword, archive.entries);
        reportPlan(plan, layout.launcherUsable, report);
        if (layout.launcherUsable) reportInstaller(archive, plan.silentForm, parsed.has("--strict"), report);
    }

    if (report.problems == 0) {
        report.info("check: no problems found");
        return exitOk;
    }
    report.info("check: " + std::to_string(report.problems) + (report.problems == 1 ? " problem" : " problems"));
    return exitFailed;
}
