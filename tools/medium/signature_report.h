// What `check` and `markers` say of a program's signature: absent, or by
// whom and whether it verifies (osslsigncode verify), and what about the
// signature block would stop it from verifying or hide the marker lines.
#pragma once

#include <string>
#include <vector>

#include "command_line.h"

// --ca-file FILE of `check` and `markers`: the certificates a signature must
// chain to (and its time stamp), instead of this machine's.
extern const OptionRule caFileOption;
// Said after marker problems of a signed program: how to mend them.
extern const char* const markersIntoSignatureHint;

struct SignatureReport {
    bool isSigned = false;
    std::vector<std::string> info;
    std::vector<std::string> problems;
    std::vector<std::string> warnings;
};

// `file` is the program's content, `path` where it is (for osslsigncode)
// and `name` how lines call it ("" for a file that is the subject). `caFile` ("" for the system's
// certificates) is what the signer's certificate must chain to; a chain
// that is not trusted is a problem only when it is given, since Windows
// decides with its own certificate stores.
SignatureReport reportSignature(const std::string& file, const std::string& path, const std::string& name,
                                const std::string& caFile);
