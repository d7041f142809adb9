// Which installer SETUP.EXE is, read from the file's own markers, and
// whether the silent form the launcher passes it makes it silent: the
// launcher passes "-s -SMS" (or, with msi.tag, "/qn REBOOT=ReallySuppress"),
// and an installer that takes neither shows its wizard in a silent run.
// Portable, and fuzzed: the file is the payload's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "install/commands.h"

enum class InstallerKind {
    unknown,
    nsis,           // a first header: 0xDEADBEEF "NullsoftInst" at a multiple of 512 bytes
    innoSetup,      // "rDlPtS" (the loader's offset table) or "Inno Setup Setup Data ("
    installShield,  // "InstallShield", in ASCII or UTF-16, in a setup launcher
    wixBurn,        // a section named ".wixburn": a WiX bundle (Burn)
};

struct InstallerInfo {
    InstallerKind kind = InstallerKind::unknown;
    // NSIS's first header flags a script with "SilentInstall silent": it
    // never shows its wizard, whatever it is given.
    bool alwaysSilent = false;
};

// Reads a program's bytes in order, in pieces of any size (as they come out
// of the archive), and keeps its start for the header checks.
class InstallerScan {
public:
    explicit InstallerScan(size_t headSize = 1 << 16) : headSize_(headSize) {}
    void add(const char* data, size_t size);
    // What the bytes so far say; the structural markers win over the texts.
    InstallerInfo result() const;
    const std::string& head() const { return head_; }

private:
    void scanText(const std::string& text, uint64_t base);
    size_t headSize_;
    std::string head_;
    std::string carry_;  // the end of what came before, for markers across pieces
    uint64_t offset_ = 0;
    bool nsis_ = false, nsisSilent_ = false, inno_ = false, installShield_ = false;
};

InstallerInfo identifyInstaller(const std::string& program);

// "an NSIS installer", "a WiX bootstrapper (Burn)", ...
std::string installerName(InstallerKind kind);

// Whether the command line of `form` (msiQuiet or silent) makes the
// installer silent: `known` false when the tool does not know the installer.
// A known mismatch has the reason in `text` and what to do in `advice`.
struct SilenceVerdict {
    bool known = false;
    bool silent = false;
    std::string text;
    std::string advice;
};
SilenceVerdict silenceOf(const InstallerInfo& installer, SetupForm form);
