// kestrune-medium check DIR [--package-dir WINPATH] [--temp WINPATH]
#include <unistd.h>

#include <cstdio>

#include "archive_check.h"
#include "command_line.h"
#include "commands.h"
#include "file_io.h"
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
struct CheckReport {
    size_t problems = 0;
    void info(const std::string& line) { printInfo(line); }
    void problem(const std::string& line) {
        printInfo("problem: " + line);
        ++problems;
    }
    void problemsFrom(const std::vector<std::string>& lines) {
        for (const std::string& line : lines) problem(line);
    }
    void warningsFrom(const std::vector<std::string>& lines) {
        for (const std::string& line : lines) printInfo("warning: " + line);
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
    report.warningsFrom(findings.warnings);
    report.problemsFrom(findings.problems);
    if (isSigned && !findings.problems.empty()) report.info(std::string("hint: ") + markersIntoSignatureHint);
    return analysis.msiTagSeen;
}

void reportExtractorSignature(const std::string& extractor, const std::string& caFile, CheckReport& report) {
    std::string bytes;
    std::string error;
    bool isSigned = false;
    if (readWholeFile(extractor, bytes, error)) reportSignatureOf(extractor, extractorFileName, bytes, caFile, report, isSigned);
}

std::string silentFormText(SetupForm form) {
    return form == SetupForm::msiQuiet
               ? std::string("MSI quiet form, /qn REBOOT=ReallySuppress (the ") + msiMarkerTag + " marker is seen)"
               : std::string("silent form, -s -SMS (no ") + msiMarkerTag + " marker is seen)";
}

// The command lines are shown only with a launcher to run them; the paths
// must fit whatever it will be.
void reportPlan(const LaunchPlan& plan, bool launcherUsable, CheckReport& report) {
    report.info("package directory: " + quoted(plan.packageDirectory) + "; temporary path: " +
                quoted(plan.temporaryPath));
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

}  // namespace

int runCheck(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    int status = exitOk;
    if (!parseCommand("check", arguments, {packageDirectoryOption, temporaryPathOption, caFileOption}, parsed, status)) {
        return status;
    }
    const std::string caFile = parsed.value(caFileOption.name);
    if (parsed.positional.size() != 1) return usageError("check", "check takes one medium folder");
    const std::string directory = parsed.positional.front();
    LaunchPlace place;
    std::string error;
    if (!launchPlaceFrom(parsed, place, error)) return usageError("check", error);

    CheckReport report;
    report.info("medium: " + quoted(directory));
    const LayoutReport layout = checkLayout(directory, packagePassword);
    for (const std::string& line : layout.info) report.info(line);
    report.problemsFrom(layout.problems);

    bool msiSeen = false;
    if (layout.launcherUsable) msiSeen = reportMarkers(joinHostPath(directory, launcherFileName), caFile, report);
    if (layout.extractorUsable) reportExtractorSignature(joinHostPath(directory, extractorFileName), caFile, report);

    ArchiveReport archive;
    if (layout.packagePresent) {
        archive = checkPackageArchive(joinHostPath(directory, packageFileName), packagePassword,
                                      isatty(STDERR_FILENO) == 1);
        if (archive.opened) {
            report.info(std::string(packageFileName) + ": " + packedSizeText(archive.archiveSize, archive.bytes) + "; " +
                        countText(archive.entries.size(), "entry", "entries") + " (" +
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
        reportPlan(planLaunch(place, msiSeen, packagePassword, archive.entries), layout.launcherUsable, report);
    }

    if (report.problems == 0) {
        report.info("check: no problems found");
        return exitOk;
    }
    report.info("check: " + std::to_string(report.problems) + (report.problems == 1 ? " problem" : " problems"));
    return exitFailed;
}
