#include "signing.h"

#include <cstring>
#include <sstream>

#include "certificate.h"
#include "command_line.h"
#include "file_io.h"
#include "host_program.h"
#include "staging.h"

namespace {

std::string trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos) return "";
    return text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

// The value after "label:" when `line` starts with it (after blanks).
bool valueAfter(const std::string& line, const std::string& label, std::string& value) {
    const std::string text = trimmed(line);
    if (text.compare(0, label.size(), label) != 0) return false;
    value = trimmed(text.substr(label.size()));
    return true;
}

// OpenSSL's own error lines ("40F0...:error:10800075:PKCS7 routines:...")
// repeat osslsigncode's reason in library terms.
bool isLibraryErrorLine(const std::string& line) {
    const size_t colon = line.find(":error:");
    return colon != std::string::npos && colon >= 8 && line.find_first_not_of("0123456789ABCDEF") == colon;
}

// osslsigncode's reasons, without OpenSSL's lines and its closing "Failed".
std::vector<std::string> toolLines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line);) {
        line = trimmed(line);
        if (line.empty() || line == "Failed" || isLibraryErrorLine(line) ||
            line.find("pass phrase") != std::string::npos) {
            continue;
        }
        lines.push_back(printable(line));
    }
    return lines;
}

bool holds(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

std::string fileProblem(const std::string& path, const char* what) {
    switch (pathKind(path)) {
        case PathKind::file: return "";
        case PathKind::missing: return std::string(what) + " " + quoted(path) + " does not exist";
        default: return std::string(what) + " " + quoted(path) + " is not a readable file";
    }
}

}  // namespace

std::string signingKeyProblem(const SigningKey& key) {
    std::string problem = fileProblem(key.certificate, "the certificate");
    if (problem.empty()) problem = fileProblem(key.key, "the key");
    if (problem.empty() && !key.passFile.empty()) problem = fileProblem(key.passFile, "the password file");
    return problem;
}

namespace {

// The SubjectPublicKeyInfo (DER) of the private key, through openssl, which
// reads the forms osslsigncode takes (PEM, DER, PVK); "" when it cannot.
// Only the public key comes back: nothing secret passes through here.
std::string publicKeyOf(const SigningKey& key) {
    const std::string tool = findOnPath("openssl");
    if (tool.empty()) return "";
    // Never a prompt: without a password file, an empty password.
    const std::string password = key.passFile.empty() ? "pass:" : "file:" + key.passFile;
    const ProgramResult run = runHostProgram(
        {tool, "pkey", "-in", key.key, "-passin", password, "-pubout", "-outform", "DER"}, interruptRequested);
    return run.started && run.status == 0 ? run.out : "";
}

}  // namespace

SignerCheck checkSigner(const SigningKey& key, int64_t now) {
    SignerCheck check;
    std::string bytes, error;
    std::vector<CertificateInfo> certificates;
    if (!readWholeFile(key.certificate, bytes, error)) {
        check.problems.push_back(error);
        return check;
    }
    if (!readCertificates(bytes, certificates, error)) {
        check.problems.push_back("the certificate file " + quoted(key.certificate) + " " + error);
        return check;
    }
    const std::string publicKey = publicKeyOf(key);
    int signer = publicKey.empty() ? 0 : certificateOfKey(certificates, publicKey);
    if (signer < 0) {
        check.problems.push_back("the key " + quoted(key.key) + " does not belong to " +
                                 (certificates.size() == 1 ? "the certificate " : "any certificate in ") +
                                 quoted(key.certificate));
        return check;
    }
    const CertificateInfo& certificate = certificates[static_cast<size_t>(signer)];
    const std::string named =
        "the certificate " + quoted(key.certificate) + " (" + printable(certificate.subject) + ")";
    const CertificateFindings findings = judgeSigningCertificate(certificate, now, !key.timestampUrl.empty());
    for (const std::string& problem : findings.problems)
        check.problems.push_back(named + " cannot sign code: " + problem);
    for (const std::string& warning : findings.warnings) check.warnings.push_back(named + ": " + warning);
    return check;
}

bool signFile(const std::string& tool, const SigningKey& key, const std::string& input, const std::string& output,
              std::string& error) {
    std::vector<std::string> command = {tool, "sign", "-certs", key.certificate, "-key", key.key, "-h", "sha256"};
    if (!key.passFile.empty()) command.insert(command.end(), {"-readpass", key.passFile});
    if (!key.timestampUrl.empty()) command.insert(command.end(), {"-ts", key.timestampUrl});
    command.insert(command.end(), {"-in", input, "-out", output});
    const ProgramResult run = runHostProgram(command, interruptRequested);
    if (!run.started) {
        error = "cannot start " + quoted(tool) + ": " + run.err;
        return false;
    }
    if (run.status == 0 && pathKind(output) == PathKind::file) return true;
    const std::vector<std::string> lines = toolLines(run.out + run.err);
    if (holds(lines, "consistency of a private key")) {
        error = "the key " + quoted(key.key) + " does not belong to the certificate " + quoted(key.certificate);
    } else if (holds(lines, "Failed to read password")) {
        error = "cannot read the password file " + quoted(key.passFile);
    } else if (holds(lines, "Failed to read private key") || holds(lines, "Failed to decode private key")) {
        error = "cannot use the key " + quoted(key.key) +
                ": it is no private key osslsigncode can read, or it is "
                "encrypted and " +
                (key.passFile.empty() ? std::string("no --pass-file was given")
                                      : "the password in " + quoted(key.passFile) + " is not its own");
    } else if (holds(lines, "No certificate found") || holds(lines, "Failed to read certificate")) {
        error = "no certificate in " + quoted(key.certificate);
    } else if (holds(lines, "timestamping failed") || holds(lines, "HTTP failure")) {
        std::string reason;
        for (const std::string& line : lines) {
            if (line.rfind("HTTP failure: ", 0) == 0) reason = " (" + line.substr(std::strlen("HTTP failure: ")) + ")";
        }
        error = "the time-stamping service " + quoted(key.timestampUrl) + " gave no time stamp" + reason;
    } else {
        std::string said;
        for (const std::string& line : lines) said += (said.empty() ? "" : "; ") + line;
        error = "osslsigncode could not sign " + quoted(input) + (said.empty() ? "" : ": " + said);
    }
    return false;
}

Verification readVerification(const std::string& report) {
    Verification result;
    result.ran = true;
    std::istringstream stream(report);
    std::string current, calculated, value;
    bool inSigner = false;
    for (std::string line; std::getline(stream, line);) {
        if (valueAfter(line, "Current message digest", value)) {
            current = trimmed(value.substr(value.find(':') + 1));
            result.signatureFound = true;
        } else if (valueAfter(line, "Calculated message digest", value)) {
            calculated = trimmed(value.substr(value.find(':') + 1));
        } else if (trimmed(line) == "Signer's certificate:") {
            inSigner = true;
        } else if (inSigner && result.signer.empty() && valueAfter(line, "Subject:", value)) {
            result.signer = value;
            inSigner = false;
        } else if (valueAfter(line, "Timestamp time:", value)) {
            result.timestamp = value;
        } else if (valueAfter(line, "Signature verification:", value)) {
            result.verified = value == "ok";
        } else if (valueAfter(line, "Error:", value) ||
                   valueAfter(line, "Timestamp Server Signature verification:", value)) {
            if (value != "ok") result.reasons.push_back(printable(value));
        } else if (trimmed(line) == "No signature found") {
            result.reasons.push_back("no signature found");
        } else if (valueAfter(line, "Warning:", value) && value.find("not at the end") != std::string::npos) {
            result.reasons.push_back(printable(value));
        }
    }
    // "Calculated ...: <digest>     MISMATCH!!!"
    result.digestMatches = !current.empty() && calculated.compare(0, current.size(), current) == 0 &&
                           calculated.find("MISMATCH") == std::string::npos;
    if (result.signatureFound && !result.digestMatches) {
        result.reasons.insert(result.reasons.begin(), "the file's digest differs from the signed one");
    }
    if (!result.verified && result.reasons.empty()) {
        for (const std::string& line : toolLines(report)) {
            if (line.find("error") != std::string::npos || line.find("failed") != std::string::npos) {
                result.reasons.push_back(line);
            }
        }
    }
    return result;
}

Verification verifyFile(const std::string& tool, const std::string& path, const std::string& caFile) {
    std::vector<std::string> command = {tool, "verify", "-in", path};
    if (!caFile.empty()) command.insert(command.end(), {"-CAfile", caFile, "-TSA-CAfile", caFile});
    const ProgramResult run = runHostProgram(command);
    if (!run.started) return Verification{};
    Verification result = readVerification(run.out + "\n" + run.err);
    // Its exit status has the last word on the whole.
    if (run.status != 0) result.verified = false;
    return result;
}
