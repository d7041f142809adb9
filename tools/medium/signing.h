// Signing with osslsigncode and reading what its `verify` says. The key
// and its password stay in their files: only their paths are passed on,
// and nothing read from them is ever printed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr const char* signingToolName = "osslsigncode";

struct SigningKey {
    std::string certificate;   // PEM or DER, the signer's first
    std::string key;           // PEM, DER or PVK
    std::string passFile;      // "" when the key is not encrypted
    std::string timestampUrl;  // RFC 3161 time-stamping service, or ""
};

// Why the certificate, key or password file cannot be used, before any
// signing: missing, unreadable, or not a file. "" when all can be read.
std::string signingKeyProblem(const SigningKey& key);

// What the certificate check found, before anything is signed.
struct SignerCheck {
    std::vector<std::string> problems;  // each one line, naming the certificate or key
    std::vector<std::string> warnings;
};

// Reads the certificate file and picks the signer's certificate: the one
// whose public key belongs to the key (read by openssl, as osslsigncode
// picks it), or the first when openssl cannot read the key (osslsigncode
// then says why); judges it at `now` (judgeSigningCertificate).
SignerCheck checkSigner(const SigningKey& key, int64_t now);

// Signs `input` into the new file `output` with the osslsigncode at `tool`.
// False, with osslsigncode's reason in words of this tool, when it fails.
bool signFile(const std::string& tool, const SigningKey& key, const std::string& input, const std::string& output,
              std::string& error);

// What `osslsigncode verify` found.
struct Verification {
    bool ran = false;
    bool signatureFound = false;
    bool digestMatches = false;        // the file is as it was signed
    bool verified = false;             // and the certificate chain is trusted: "Signature verification: ok"
    std::string signer;                // the signer's subject, "/CN=..."
    std::string timestamp;             // "Dec  8 23:47:31 2026 GMT", or ""
    std::vector<std::string> reasons;  // why not verified, in osslsigncode's words
};

// The report of `osslsigncode verify` (its stdout and stderr together).
Verification readVerification(const std::string& report);

// Runs `osslsigncode verify` on `path`, trusting the certificates in
// `caFile` ("" for the system's).
Verification verifyFile(const std::string& tool, const std::string& path, const std::string& caFile);
