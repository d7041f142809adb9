// kestrune-medium sign MEDIUM --cert CERT --key KEY [--pass-file FILE] [--timestamp URL]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <iterator>

#include "authenticode.h"
#include "command_line.h"
#include "commands.h"
#include "disc_image.h"
#include "file_io.h"
#include "host_program.h"
#include "launcher/constants.h"
#include "marking.h"
#include "medium_names.h"
#include "pe_file.h"
#include "signing.h"
#include "staging.h"

namespace {

// A folder of this process's own for osslsigncode's input and output,
// removed with what is in it.
struct WorkFolder {
    std::string path;
    WorkFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            joinHostPath(base != nullptr && *base != '\0' ? base : "/tmp", "kestrune-medium-sign-XXXXXX");
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) != nullptr) path = buffer.data();
    }
    ~WorkFolder() {
        if (!path.empty()) removeTree(path);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
};

// One program of the medium, signed in memory before anything is written.
struct SignedProgram {
    const char* name;
    bool isLauncher;  // holds the marker lines
    std::string path;
    std::string bytes;                 // as it will be written
    std::vector<std::string> markers;  // put back inside the signature
    std::string signer;
    uint64_t droppedAfterSignature = 0;
};

bool stopped(std::string& error) {
    if (interruptRequested()) error = "interrupted";
    return interruptRequested();
}

// Signs the program at `program.path` through osslsigncode in `work`; for
// setup.exe (`withMarkers`), the marker lines it held are put back inside
// the new signature. The result must verify as the file it claims to be,
// and the launcher must see every marker, or nothing is written.
bool signProgram(const std::string& tool, const SigningKey& key, const WorkFolder& work, SignedProgram& program,
                 std::string& error) {
    const bool withMarkers = program.isLauncher;
    std::string original;
    if (!readWholeFile(program.path, original, error, false)) return false;
    const SignatureLayout old = readSignatureLayout(original);
    if (!old.isPe) {
        error = quoted(program.path) + " is not a Windows PE program: " + old.peProblem;
        return false;
    }
    if (withMarkers) program.markers = markerTagsOf(original, old);
    const size_t tableEnd = static_cast<size_t>(old.tableOffset + old.tableSize);
    if (old.bytesAfterTable > 0 && trailingMarkerLinesStart(original, tableEnd) != tableEnd) {
        program.droppedAfterSignature = old.bytesAfterTable;
    }
    const std::string unsignedPath = joinHostPath(work.path, std::string("unsigned-") + program.name);
    const std::string signedPath = joinHostPath(work.path, std::string("signed-") + program.name);
    std::string signedBytes;
    if (!writeNewFile(unsignedPath, imageForSigning(original, old, withMarkers), error) || stopped(error) ||
        !signFile(tool, key, unsignedPath, signedPath, error) || stopped(error) ||
        !readWholeFile(signedPath, signedBytes, error)) {
        return false;
    }
    program.bytes = signedBytes;
    if (!program.markers.empty() &&
        !withSignatureMarkers(signedBytes, readSignatureLayout(signedBytes), program.markers, program.bytes, error)) {
        error = "cannot put the marker lines into the new signature of " + quoted(program.path) + ": " + error;
        return false;
    }
    const std::string tail(program.bytes, program.bytes.size() - std::min(program.bytes.size(), markerScanSize));
    for (const std::string& tag : program.markers) {
        if (!launcherSeesTag(tail, tag)) {
            error = "the marker lines of " + quoted(program.path) + " (" +
                    std::to_string(markerBlock(program.markers).size()) + " bytes) do not fit in the last " +
                    std::to_string(markerWindowSize) + " bytes";
            return false;
        }
    }
    // What osslsigncode makes of the result: the file must be as signed.
    const std::string checkedPath = joinHostPath(work.path, std::string("checked-") + program.name);
    if (!writeNewFile(checkedPath, program.bytes, error)) return false;
    const Verification verification = verifyFile(tool, checkedPath, "");
    if (!verification.signatureFound || !verification.digestMatches) {
        std::string reasons;
        for (const std::string& reason : verification.reasons) reasons += (reasons.empty() ? "" : "; ") + reason;
        error = "the signed " + std::string(program.name) + " does not verify (" + reasons + ")";
        return false;
    }
    program.signer = verification.signer;
    return true;
}

std::string listText(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + printable(item);
    return text;
}

// What an interruption says was written, or not.
std::string programOutput(const SignedProgram& program) { return "the signed " + quoted(program.path); }
std::string imageOutput(const std::string& image) { return "the signed disc image " + quoted(image); }

// Signs the programs of the medium in `directory`, in memory first, then
// writes them; prints what it did of the medium called `shown`. `copy`: the
// folder is a disc image's copy, which only the image leaves.
bool signFolder(const std::string& directory, const std::string& shown, const std::string& tool, const SigningKey& key,
                bool copy, std::string& error) {
    SignedProgram programs[] = {{launcherFileName, true, joinHostPath(directory, launcherFileName), "", {}, "", 0},
                                {extractorFileName, false, joinHostPath(directory, extractorFileName), "", {}, "", 0}};
    if (!copy) {
        for (const SignedProgram& program : programs) planOutput(programOutput(program));
    }
    for (const SignedProgram& program : programs) {
        const PathKind kind = pathKind(program.path);
        if (kind != PathKind::file) {
            error = std::string(program.name) + (kind == PathKind::missing ? " is missing" : " is not a file") +
                    " in " + quoted(shown);
            return false;
        }
    }
    WorkFolder work;
    if (work.path.empty()) {
        error = "cannot create a temporary folder: " + systemErrorText(errno);
        return false;
    }
    for (SignedProgram& program : programs) {
        if (!signProgram(tool, key, work, program, error)) return false;
    }
    // Both are signed before either is written, and each is replaced in one
    // step; once the first is, a signal waits until the second is too.
    if (stopped(error)) return false;
    for (SignedProgram& program : programs) {
        if (!replaceFile(program.path, program.bytes, error)) return false;
        if (!copy) noteWritten(programOutput(program));
    }
    printInfo("medium: " + quoted(shown));
    for (const SignedProgram& program : programs) {
        std::string line = std::string("  ") + program.name + ": signed by " +
                           (program.signer.empty() ? std::string("the certificate") : printable(program.signer));
        if (!key.timestampUrl.empty()) line += ", time-stamped";
        if (program.isLauncher) {
            line += program.markers.empty()
                        ? ", no markers"
                        : ", markers: " + listText(program.markers) + " (inside the signature, in the last " +
                              std::to_string(markerWindowSize) + " bytes)";
        }
        printInfo(line);
        if (program.droppedAfterSignature > 0) {
            printWarning(std::to_string(program.droppedAfterSignature) + " bytes that followed the old signature of " +
                         program.name + " (appended after signing, not covered by it) were left out");
        }
    }
    return true;
}

// A disc image is copied out, signed as a folder and written again beside
// itself, then renamed over the old one. Only an image that holds a medium
// and nothing else (what build --iso writes) is signed, so that nothing
// else on it is lost.
bool signImage(const std::string& image, const std::string& signingTool, const SigningKey& key, std::string& error) {
    planOutput(imageOutput(image));
    const std::string imageTool = findOnPath(imageToolName);
    if (imageTool.empty()) {
        error = missingProgramText(imageToolName, "to sign a disc image");
        return false;
    }
    DiscListing listing;
    if (!readDiscImage(imageTool, image, listing, error)) return false;
    // What can be done instead, with the commands there are.
    const std::string instead =
        ", which is not part of a medium, and would be lost; sign the medium folder it was made from "
        "(kestrune-medium sign FOLDER ...) before you make the image, or make it with kestrune-medium build --iso";
    for (const std::string& folder : listing.folders) {
        error = "the disc image " + quoted(image) + " holds the folder " + quoted(folder) + instead;
        return false;
    }
    for (const std::string& name : listing.files) {
        if (std::find(std::begin(mediumFolderNames), std::end(mediumFolderNames), name) ==
            std::end(mediumFolderNames)) {
            error = "the disc image " + quoted(image) + " holds " + quoted(name) + instead;
            return false;
        }
    }
    bool reproducible = false;
    time_t epoch = 0;
    if (!readSourceDateEpoch(reproducible, epoch, error)) return false;
    DiscCopy copy(false);
    if (copy.path.empty()) {
        error = "cannot create a temporary folder: " + systemErrorText(errno);
        return false;
    }
    if (!extractFromDiscImage(imageTool, image, listing.files, copy.path, error) ||
        !signFolder(copy.path, image, signingTool, key, true, error) || stopped(error)) {
        return false;
    }
    std::vector<DiscFile> files;
    for (const std::string& name : listing.files) files.push_back(DiscFile{name, joinHostPath(copy.path, name)});
    Staging staging;
    const bool written = createStaging(image, staging, error) &&
                         writeDiscImage(imageTool, files, listing.label, reproducible ? epoch : -1,
                                        joinHostPath(staging.path, "image.iso"), error) &&
                         !stopped(error) && commitStagedFile(staging, "image.iso", true, error);
    for (const std::string& note : staging.notes) printWarning(note);
    discardStaging(staging);
    if (written) noteWritten(imageOutput(image));
    if (written)
        printInfo("disc image: " + quoted(image) + " written again with the signed programs, labelled " +
                  quoted(listing.label));
    return written;
}

int signMedium(const std::string& medium, const SigningKey& key) {
    const PathKind kind = pathKind(medium);
    const bool image = kind == PathKind::file && isDiscImage(medium);
    if (kind != PathKind::directory && !image) {
        printError("medium " + quoted(medium) +
                   (kind == PathKind::missing ? " does not exist" : " is neither a folder nor a disc image"));
        return exitFailed;
    }
    const std::string tool = findOnPath(signingToolName);
    if (tool.empty()) {
        printError(missingProgramText(signingToolName, "to sign a medium"));
        return exitFailed;
    }
    std::string error = signingKeyProblem(key);
    if (error.empty()) {
        // The certificate first: one that cannot sign code is refused with
        // its reason, before osslsigncode makes a signature of it.
        const SignerCheck signer = checkSigner(key, static_cast<int64_t>(time(nullptr)));
        for (const std::string& warning : signer.warnings) printWarning(warning);
        if (!signer.problems.empty()) {
            for (const std::string& problem : signer.problems) printError(problem);
            if (!interruptRequested()) printError("nothing was signed");
            return exitFailed;
        }
    }
    if (error.empty()) {
        const bool signedAll =
            image ? signImage(medium, tool, key, error) : signFolder(medium, medium, tool, key, false, error);
        if (signedAll) return exitOk;
    }
    if (!interruptRequested()) printError(error + "; nothing was signed");
    return exitFailed;
}

}  // namespace

int runSign(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    int status = exitOk;
    if (!parseCommand("sign", arguments, parsed, status)) return status;
    if (parsed.positional.size() != 1) return usageError("sign", "sign takes one medium folder");
    if (!parsed.has("--cert") || !parsed.has("--key")) {
        return usageError("sign", "sign needs --cert CERT and --key KEY, the signer's certificate and private key");
    }
    SigningKey key;
    key.certificate = parsed.value("--cert");
    key.key = parsed.value("--key");
    key.passFile = parsed.value("--pass-file");
    key.timestampUrl = parsed.value("--timestamp");
    installInterruptHandlers();
    const int result = signMedium(parsed.positional.front(), key);
    reraiseInterrupt();
    return result;
}
