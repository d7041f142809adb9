// kestrune-medium sign MEDIUM --cert CERT --key KEY [--pass-file FILE] [--timestamp URL]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "authenticode.h"
#include "command_line.h"
#include "commands.h"
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
        std::string pattern = joinHostPath(base != nullptr && *base != '\0' ? base : "/tmp", "kestrune-medium-sign-XXXXXX");
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
    std::string bytes;                // as it will be written
    std::vector<std::string> markers; // put back inside the signature
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
            error = "the marker lines of " + quoted(program.path) + " (" + std::to_string(markerBlock(program.markers).size()) +
                    " bytes) do not fit in the last " + std::to_string(markerWindowSize) + " bytes; nothing was signed";
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
        error = "the signed " + std::string(program.name) + " does not verify (" + reasons + "); nothing was written";
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

int signMedium(const std::string& directory, const SigningKey& key) {
    if (pathKind(directory) != PathKind::directory) {
        printError("medium " + quoted(directory) + (pathKind(directory) == PathKind::missing ? " does not exist"
                                                                                            : " is not a folder"));
        return exitFailed;
    }
    const std::string tool = findOnPath(signingToolName);
    if (tool.empty()) {
        printError(missingProgramText(signingToolName, "to sign a medium"));
        return exitFailed;
    }
    std::string error = signingKeyProblem(key);
    if (!error.empty()) {
        printError(error + "; nothing was signed");
        return exitFailed;
    }
    SignedProgram programs[] = {{launcherFileName, true, joinHostPath(directory, launcherFileName), "", {}, "", 0},
                                {extractorFileName, false, joinHostPath(directory, extractorFileName), "", {}, "", 0}};
    for (const SignedProgram& program : programs) {
        const PathKind kind = pathKind(program.path);
        if (kind != PathKind::file) {
            printError(quoted(program.path) + (kind == PathKind::missing ? " is missing" : " is not a file") +
                       "; nothing was signed");
            return exitFailed;
        }
    }
    WorkFolder work;
    if (work.path.empty()) {
        printError("cannot create a temporary folder: " + systemErrorText(errno));
        return exitFailed;
    }
    for (SignedProgram& program : programs) {
        if (!signProgram(tool, key, work, program, error)) {
            if (!interruptRequested()) printError(error);
            return exitFailed;
        }
    }
    // Both are signed before either is written, and each is replaced in one
    // step; once the first is, a signal waits until the second is too.
    if (stopped(error)) return exitFailed;
    for (SignedProgram& program : programs) {
        if (!replaceFile(program.path, program.bytes, error)) {
            printError(error + (program.isLauncher ? "; nothing was signed" : ""));
            return exitFailed;
        }
    }
    printInfo("medium: " + quoted(directory));
    for (const SignedProgram& program : programs) {
        std::string line = std::string("  ") + program.name + ": signed by " +
                           (program.signer.empty() ? std::string("the certificate") : printable(program.signer));
        if (!key.timestampUrl.empty()) line += ", time-stamped";
        if (program.isLauncher) {
            line += program.markers.empty() ? ", no markers"
                                            : ", markers: " + listText(program.markers) +
                                                  " (inside the signature, in the last " +
                                                  std::to_string(markerWindowSize) + " bytes)";
        }
        printInfo(line);
        if (program.droppedAfterSignature > 0) {
            printWarning(std::to_string(program.droppedAfterSignature) + " bytes that followed the old signature of " +
                         program.name + " (appended after signing, not covered by it) were left out");
        }
    }
    return exitOk;
}

}  // namespace

int runSign(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    int status = exitOk;
    if (!parseCommand("sign", arguments,
                      {{"--cert", true, false}, {"--key", true, false}, {"--pass-file", true, false},
                       {"--timestamp", true, false}},
                      parsed, status)) {
        return status;
    }
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
