#include "installer.h"

#include <algorithm>

#include "little_endian.h"
#include "pe_file.h"

namespace {

// NSIS looks for its first header at every multiple of 512 bytes: flags,
// a signature word and "NullsoftInst". A script's "SilentInstall silent"
// sets the flags' FH_FLAGS_SILENT.
constexpr size_t nsisAlignment = 512;
const std::string nsisSignature = std::string("\xef\xbe\xad\xde", 4) + "NullsoftInst";
constexpr size_t nsisFlagsSize = 4;
constexpr uint32_t nsisSilentFlag = 2;
// Inno Setup: the loader's offset table starts with "rDlPtS", the setup
// data it points to with "Inno Setup Setup Data (<version>)".
const std::string innoOffsetTable = "rDlPtS";
const std::string innoSetupData = "Inno Setup Setup Data (";
// InstallShield's setup launchers name themselves in their texts and
// version information (UTF-16).
const std::string installShieldText = "InstallShield";
std::string utf16(const std::string& ascii) {
    std::string wide;
    for (char c : ascii) wide += std::string{c, '\0'};
    return wide;
}
const std::string installShieldWide = utf16(installShieldText);
// The longest marker, less one: what is kept of a piece for the next.
const size_t carrySize =
    std::max({nsisFlagsSize + nsisSignature.size(), innoSetupData.size(), installShieldWide.size()}) - 1;

// WiX's Burn engine keeps its bundle's data in a section of its own.
constexpr char burnSectionName[8] = {'.', 'w', 'i', 'x', 'b', 'u', 'r', 'n'};
constexpr size_t sectionHeaderSize = 40;

bool hasBurnSection(const std::string& head) {
    if (!peImageProblem(head).empty() || head.size() < peHeaderPointerOffset + 4) return false;
    const uint64_t pe = readLittle32(head, peHeaderPointerOffset);
    const uint64_t coff = pe + peSignatureSize;
    if (coff + coffHeaderSize > head.size()) return false;
    const uint64_t sections = readLittle16(head, static_cast<size_t>(coff + 2));
    const uint64_t optionalSize = readLittle16(head, static_cast<size_t>(coff + 16));
    const uint64_t table = coff + coffHeaderSize + optionalSize;
    for (uint64_t i = 0; i < sections; ++i) {
        const uint64_t at = table + i * sectionHeaderSize;
        if (at + sectionHeaderSize > head.size()) return false;
        if (head.compare(static_cast<size_t>(at), sizeof burnSectionName, burnSectionName, sizeof burnSectionName) ==
            0) {
            return true;
        }
    }
    return false;
}

std::string formArguments(SetupForm form) {
    return form == SetupForm::msiQuiet ? "/qn REBOOT=ReallySuppress" : "-s -SMS";
}

// What to do when the installer takes other switches than the launcher's:
// a program of one's own as SETUP.EXE. PostProcess.cmd is no way round, as
// the launcher runs it only after SETUP.EXE.
std::string wrapperAdvice(const char* switches) {
    return std::string(
               "rename the installer (to product-setup.exe, say) and put at the root a SETUP.EXE of your "
               "own that starts it with ") +
           switches +
           " when it is given -s, and as it is otherwise (PostProcess.cmd cannot do this: the launcher runs it "
           "only after SETUP.EXE)";
}

}  // namespace

void InstallerScan::add(const char* data, size_t size) {
    if (head_.size() < headSize_) head_.append(data, std::min(size, headSize_ - head_.size()));
    const std::string text = carry_ + std::string(data, size);
    const uint64_t base = offset_ - carry_.size();
    scanText(text, base);
    offset_ += size;
    carry_ = text.substr(text.size() - std::min(text.size(), carrySize));
}

void InstallerScan::scanText(const std::string& text, uint64_t base) {
    if (!nsis_) {
        // The first multiple of 512 at or after `base`.
        for (uint64_t at = (base + nsisAlignment - 1) / nsisAlignment * nsisAlignment;
             at - base + nsisFlagsSize + nsisSignature.size() <= text.size(); at += nsisAlignment) {
            const size_t local = static_cast<size_t>(at - base);
            if (text.compare(local + nsisFlagsSize, nsisSignature.size(), nsisSignature) != 0) continue;
            nsis_ = true;
            nsisSilent_ = (readLittle32(text, local) & nsisSilentFlag) != 0;
            break;
        }
    }
    inno_ = inno_ || text.find(innoOffsetTable) != std::string::npos || text.find(innoSetupData) != std::string::npos;
    installShield_ = installShield_ || text.find(installShieldText) != std::string::npos ||
                     text.find(installShieldWide) != std::string::npos;
}

InstallerInfo InstallerScan::result() const {
    InstallerInfo info;
    if (hasBurnSection(head_)) {
        info.kind = InstallerKind::wixBurn;
    } else if (nsis_) {
        info.kind = InstallerKind::nsis;
        info.alwaysSilent = nsisSilent_;
    } else if (inno_) {
        info.kind = InstallerKind::innoSetup;
    } else if (installShield_) {
        info.kind = InstallerKind::installShield;
    }
    return info;
}

InstallerInfo identifyInstaller(const std::string& program) {
    InstallerScan scan;
    scan.add(program.data(), program.size());
    return scan.result();
}

std::string installerName(InstallerKind kind) {
    switch (kind) {
        case InstallerKind::nsis: return "an NSIS installer";
        case InstallerKind::innoSetup: return "an Inno Setup installer";
        case InstallerKind::installShield: return "an InstallShield setup launcher";
        case InstallerKind::wixBurn: return "a WiX bootstrapper (Burn)";
        case InstallerKind::unknown: break;
    }
    return "no installer this tool recognises (NSIS, Inno Setup, InstallShield, WiX Burn)";
}

SilenceVerdict silenceOf(const InstallerInfo& installer, SetupForm form) {
    SilenceVerdict verdict;
    const std::string passes = "a silent run (-s) passes " + formArguments(form);
    verdict.known = installer.kind != InstallerKind::unknown;
    switch (installer.kind) {
        case InstallerKind::unknown:
            verdict.text = passes + "; whether that makes SETUP.EXE silent is not known here";
            break;
        case InstallerKind::nsis:
            verdict.silent = installer.alwaysSilent;
            if (installer.alwaysSilent) {
                verdict.text = passes +
                               "; this NSIS installer was built with SilentInstall silent and shows no "
                               "wizard, whatever it is given";
            } else {
                verdict.text = passes +
                               ", which does not make an NSIS installer silent: it shows its wizard "
                               "(NSIS takes /S, in capitals)";
                verdict.advice = wrapperAdvice("/S");
            }
            break;
        case InstallerKind::innoSetup:
            verdict.text = passes +
                           ", which does not make an Inno Setup installer silent: it shows its wizard "
                           "(Inno Setup takes /VERYSILENT)";
            verdict.advice = wrapperAdvice("/VERYSILENT /SUPPRESSMSGBOXES /NORESTART");
            break;
        case InstallerKind::installShield:
            verdict.silent = form == SetupForm::silent;
            if (verdict.silent) {
                verdict.text = passes +
                               ", InstallShield's own silent form (an InstallScript setup reads its "
                               "answers from a setup.iss beside it, which setup.exe -r records)";
            } else {
                verdict.text = passes +
                               " (the msi.tag marker), which an InstallShield setup launcher does not take: "
                               "it shows its dialogs (it takes -s -SMS)";
                verdict.advice = "build the medium without --marker msi.tag, so that silent runs pass -s -SMS";
            }
            break;
        case InstallerKind::wixBurn:
            verdict.silent = form == SetupForm::silent;
            if (verdict.silent) {
                verdict.text = passes + ", and a WiX bootstrapper (Burn) takes -s as /quiet: it runs silently";
            } else {
                verdict.text = passes +
                               " (the msi.tag marker), which a WiX bootstrapper (Burn) does not take: it "
                               "shows its window (it takes -s or /quiet)";
                verdict.advice = "build the medium without --marker msi.tag, so that silent runs pass -s -SMS";
            }
            break;
    }
    return verdict;
}
