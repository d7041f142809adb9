// The signer's certificate, read before anything is signed, so that `sign`
// refuses one that cannot sign code with the reason, rather than making a
// signature that only a later verification refuses ("Unsupported Signer's
// certificate purpose"). Portable, and fuzzed: the file comes from the user.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CertificateInfo {
    std::string subject;    // "/CN=Example/O=Example Ltd", as osslsigncode shows it
    std::string publicKey;  // the SubjectPublicKeyInfo's DER
    int64_t notBefore = 0;  // seconds since 1970, UTC
    int64_t notAfter = 0;
    bool hasExtendedKeyUsage = false;
    std::vector<std::string> extendedKeyUsages;  // dotted OIDs
    bool hasKeyUsage = false;
    bool digitalSignature = false;  // the key usage's first bit
};

// The certificates a certificate file holds, in order: PEM ("CERTIFICATE"
// or "PKCS7" blocks), one DER certificate, or a DER PKCS#7 bundle (.spc).
// False, with `error`, when it holds none that can be read.
bool readCertificates(const std::string& file, std::vector<CertificateInfo>& certificates, std::string& error);

// The certificate of `certificates` whose public key is `publicKey` (the
// SubjectPublicKeyInfo's DER), which signs with that key; -1 when none is.
int certificateOfKey(const std::vector<CertificateInfo>& certificates, const std::string& publicKey);

struct CertificateFindings {
    std::vector<std::string> problems;  // it cannot sign code now
    std::vector<std::string> warnings;
};

// Whether the signer's certificate can sign code at the time `now`: code
// signing among its extended key usages (a certificate without them is
// valid for every purpose, as Windows takes it), digitalSignature among its
// key usages when it lists any, and valid at `now`; one that expires within
// `expiryWarningDays` is a warning. `timestamped`: the signature gets a
// time stamp, and so outlives the certificate.
constexpr int64_t expiryWarningDays = 30;
CertificateFindings judgeSigningCertificate(const CertificateInfo& certificate, int64_t now, bool timestamped);

// "2026-05-01 12:00:00 UTC".
std::string utcText(int64_t seconds);
