#include "signature_report.h"

#include "authenticode.h"
#include "command_line.h"
#include "host_program.h"
#include "signing.h"

namespace {

std::string joinedReasons(const std::vector<std::string>& reasons) {
    std::string text;
    for (const std::string& reason : reasons) text += (text.empty() ? "" : "; ") + reason;
    return text.empty() ? "osslsigncode gives no reason" : text;
}

// What of the block itself stops the signature from verifying, or
// hides marker lines, before osslsigncode is asked.
void reportBlock(const SignatureLayout& layout, const std::string& subject, SignatureReport& report) {
    if (!layout.blockProblem.empty()) {
        report.problems.push_back(subject + "its signature block cannot be read: " + layout.blockProblem);
        return;
    }
    if (layout.bytesAfterTable > 0) {
        report.problems.push_back(subject + std::to_string(layout.bytesAfterTable) +
                                  " bytes follow its signature block (appended after signing), where neither "
                                  "Windows nor osslsigncode looks for a signature; sign it again, or, if they are "
                                  "marker lines, mark it again");
    }
    if (layout.bytesAfterSignature >= 8 || !layout.extraBytesAreZero) {
        report.problems.push_back(subject + "its signature block holds " + std::to_string(layout.bytesAfterSignature) +
                                  " bytes after the signature that are not padding (marker lines written there by "
                                  "hand?); Windows refuses such a signature where it checks padding strictly; "
                                  "sign or mark it again to put the marker lines inside the signature");
    }
}

}  // namespace

const OptionRule caFileOption = {"--ca-file", true, false};
const char* const markersIntoSignatureHint =
    "kestrune-medium mark FILE TAG (or sign) puts marker lines inside the signature, where the launcher sees them "
    "and the signature stays valid";

SignatureReport reportSignature(const std::string& file, const std::string& path, const std::string& name,
                                const std::string& caFile) {
    SignatureReport report;
    const std::string label = name == "" ? std::string("signature: ") : name + " signature: ";
    // "setup.exe: its signature ...", or for the file `markers` is about, "its signature ...".
    const std::string subject = name == "" ? std::string() : name + ": ";
    const SignatureLayout layout = readSignatureLayout(file);
    if (!layout.isPe || !layout.isSigned) {
        report.info.push_back(label + "none");
        return report;
    }
    report.isSigned = true;
    reportBlock(layout, subject, report);

    const std::string tool = findOnPath(signingToolName);
    if (tool.empty()) {
        report.info.push_back(label + "present, not verified");
        report.warnings.push_back(missingProgramText(
            signingToolName, "to verify the signature of " + (name.empty() ? std::string("the file") : name)));
        return report;
    }
    const Verification verification = verifyFile(tool, path, caFile);
    std::string line = label;
    line += verification.signer.empty() ? std::string("present") : "by " + printable(verification.signer);
    if (!verification.timestamp.empty()) line += ", time-stamped " + verification.timestamp;
    if (!verification.ran || !verification.signatureFound || !verification.digestMatches) {
        report.info.push_back(line + "; does not verify");
        report.problems.push_back(
            subject + "its signature does not verify: " +
            (verification.ran ? joinedReasons(verification.reasons) : "osslsigncode could not be run"));
        return report;
    }
    if (verification.verified) {
        report.info.push_back(line + "; verified: the file is as it was signed and the certificate is trusted");
        return report;
    }
    report.info.push_back(line + "; the file is as it was signed; the certificate is not trusted here");
    const std::string reasons = joinedReasons(verification.reasons);
    if (caFile.empty()) {
        report.warnings.push_back(subject + "the certificate of its signature is not trusted by this machine (" +
                                  reasons +
                                  "); Windows decides with its own certificate stores; give --ca-file to "
                                  "check it against your certificate authority");
    } else {
        report.problems.push_back(subject + "its signature does not verify against " + quoted(caFile) + ": " + reasons);
    }
    return report;
}
