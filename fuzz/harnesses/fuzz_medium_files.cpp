// The files kestrune-medium reads before it signs or checks a medium, over
// arbitrary bytes: a certificate file (tools/medium/certificate.cpp) and a
// payload's SETUP.EXE, whose installer markers are found whatever the
// pieces its bytes come in (tools/medium/installer.cpp).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "certificate.h"
#include "der.h"
#include "installer.h"
#include "support/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    std::vector<CertificateInfo> certificates;
    std::string error;
    FUZZ_CHECK(readCertificates(file, certificates, error) == !certificates.empty());
    for (const CertificateInfo& certificate : certificates) {
        judgeSigningCertificate(certificate, 1767225600, false);
        FUZZ_CHECK(!utcText(certificate.notBefore).empty() && !utcText(certificate.notAfter).empty());
    }
    oidText(file);

    // The same program in pieces of a size its first byte gives.
    const InstallerInfo whole = identifyInstaller(file);
    const size_t piece = size == 0 ? 1 : 1 + data[0] % 97;
    InstallerScan scan;
    for (size_t at = 0; at < size; at += piece) scan.add(file.data() + at, size - at < piece ? size - at : piece);
    FUZZ_CHECK(scan.result().kind == whole.kind && scan.result().alwaysSilent == whole.alwaysSilent);
    for (SetupForm form : {SetupForm::silent, SetupForm::msiQuiet}) {
        const SilenceVerdict verdict = silenceOf(whole, form);
        FUZZ_CHECK(!verdict.text.empty());
        FUZZ_CHECK(verdict.advice.empty() == (verdict.silent || !verdict.known));
    }
    return 0;
}
