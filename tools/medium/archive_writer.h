// Writing package.zip with libzip: every entry deflated (folders have no
// data) and encrypted with traditional PKWARE encryption under the password
// built into the launcher, which is the cipher unzip.exe decrypts.
#pragma once

#include <string>

#include "payload.h"

struct ArchiveWriteOptions {
    const char* password = nullptr;
    bool showProgress = false;
    // Asked while data is packed; true stops the write as a failure.
    bool (*cancelled)() = nullptr;
};

// Writes the archive at `path`, which must not exist. On failure `error`
// names the file or step that failed and no archive is left at `path`.
bool writePackageArchive(const Payload& payload, const std::string& path, const ArchiveWriteOptions& options,
                         std::string& error);
