// Which files count as Windows PE programs, and which installer a program is.
#include <gtest/gtest.h>

#include "installer.h"
#include "medium_test_support.h"
#include "pe_file.h"

using namespace medium_test;

TEST(PeImage, OnlyAnExecutableImageWithBothHeadersPasses) {
    std::string pointsOutside = peImage();
    pointsOutside[0x3c] = 0x7f;  // e_lfanew beyond the bytes
    std::string wrongSignature = peImage();
    wrongSignature[0x41] = 'X';
    struct Case {
        const char* what;
        std::string bytes;
        const char* expected;  // "" when accepted
    } cases[] = {
        {"a program", peImage(0x0102), ""},
        {"empty", "", "MZ"},
        {"a script", "#!/bin/sh\necho hi\n", "MZ"},
        {"a DOS stub only", std::string("MZ") + std::string(80, '\0'), "PE"},
        {"only MZ", "MZ", "too short"},
        {"pointer outside the file", pointsOutside, "outside"},
        {"wrong signature", wrongSignature, "no PE signature"},
        {"a DLL", peImage(0x2102), "DLL"},
        {"an object file, not an image", peImage(0x0100), "not marked as an executable"},
    };
    for (const Case& c : cases) EXPECT_TRUE(isProblem(peImageProblem(c.bytes), c.expected)) << c.what;
}

TEST(PeFile, ReadsTheFileAndExplainsWhatIsWrong) {
    ScratchDirectory scratch;
    writeFile(scratch / "setup.exe", fakeLauncher());
    writeFile(scratch / "notes.txt", "not a program");
    EXPECT_EQ(peFileProblem(scratch / "setup.exe"), "");
    EXPECT_NE(peFileProblem(scratch / "notes.txt"), "");
    EXPECT_NE(peFileProblem(scratch / "missing.exe").find("cannot be read"), std::string::npos);
    EXPECT_NE(peFileProblem(scratch.path), "");
}

TEST(Installers, AreToldApartByTheirOwnMarkersInPiecesOfAnySize) {
    std::string misaligned = craftedNsisInstaller(false);
    misaligned.insert(0x300, 1, '\0');  // the first header one byte off its 512
    std::string innoAndShield = craftedInnoSetupLoader() + "InstallShield";
    struct Case {
        const char* what;
        std::string program;
        InstallerKind kind;
        bool alwaysSilent;
    } cases[] = {
        {"NSIS", craftedNsisInstaller(false), InstallerKind::nsis, false},
        {"NSIS, SilentInstall silent", craftedNsisInstaller(true), InstallerKind::nsis, true},
        {"NSIS's header off its alignment", misaligned, InstallerKind::unknown, false},
        {"Inno Setup's loader", craftedInnoSetupLoader(), InstallerKind::innoSetup, false},
        {"Inno Setup's data, far in", craftedInnoSetupData(), InstallerKind::innoSetup, false},
        {"InstallShield", craftedInstallShieldLauncher(), InstallerKind::installShield, false},
        {"InstallShield in ASCII", peProgram("InstallShield(R) Setup Launcher"), InstallerKind::installShield, false},
        {"Burn", craftedBurnBundle(), InstallerKind::wixBurn, false},
        // A structural marker wins over a name in the text.
        {"Inno Setup that names InstallShield", innoAndShield, InstallerKind::innoSetup, false},
        {"Burn that names NSIS's header text", craftedBurnBundle() + "NullsoftInst", InstallerKind::wixBurn, false},
        {"a plain program", peProgram("hello"), InstallerKind::unknown, false},
        {"not a program", "NullsoftInst rDl", InstallerKind::unknown, false},
        {"empty", "", InstallerKind::unknown, false},
    };
    for (const Case& c : cases) {
        for (size_t piece : {size_t{1}, size_t{7}, size_t{511}, size_t{512}, size_t{65536}, c.program.size() + 1}) {
            InstallerScan scan;
            for (size_t at = 0; at < c.program.size(); at += piece) {
                const std::string part = c.program.substr(at, piece);
                scan.add(part.data(), part.size());
            }
            EXPECT_EQ(scan.result().kind, c.kind) << c.what << ", pieces of " << piece;
            EXPECT_EQ(scan.result().alwaysSilent, c.alwaysSilent) << c.what << ", pieces of " << piece;
        }
        EXPECT_EQ(identifyInstaller(c.program).kind, c.kind) << c.what;
    }
}

// What makensis (Debian's nsis) writes carries the marker where NSIS itself
// looks for it, and the flag of SilentInstall silent.
TEST(Installers, MakensisOutputIsAnNsisInstaller) {
    ScratchDirectory scratch;
    for (bool silent : {false, true}) {
        const InstallerInfo info = identifyInstaller(makensisInstaller(scratch.path, silent));
        EXPECT_EQ(info.kind, InstallerKind::nsis) << silent;
        EXPECT_EQ(info.alwaysSilent, silent);
    }
}

TEST(Installers, TheSilentFormsMakeOnlySomeOfThemSilent) {
    struct Case {
        InstallerInfo installer;
        SetupForm form;
        bool known, silent;
        const char* said;
    } cases[] = {
        {{InstallerKind::nsis, false}, SetupForm::silent, true, false, "NSIS takes /S"},
        {{InstallerKind::nsis, false}, SetupForm::msiQuiet, true, false, "passes /qn REBOOT=ReallySuppress"},
        {{InstallerKind::nsis, true}, SetupForm::silent, true, true, "SilentInstall silent"},
        {{InstallerKind::innoSetup, false}, SetupForm::silent, true, false, "Inno Setup takes /VERYSILENT"},
        {{InstallerKind::innoSetup, false}, SetupForm::msiQuiet, true, false, "Inno Setup takes /VERYSILENT"},
        {{InstallerKind::installShield, false}, SetupForm::silent, true, true, "InstallShield's own silent form"},
        {{InstallerKind::installShield, false}, SetupForm::msiQuiet, true, false, "it takes -s -SMS"},
        {{InstallerKind::wixBurn, false}, SetupForm::silent, true, true, "takes -s as /quiet"},
        {{InstallerKind::wixBurn, false}, SetupForm::msiQuiet, true, false, "it takes -s or /quiet"},
        {{InstallerKind::unknown, false}, SetupForm::silent, false, false, "is not known here"},
    };
    for (const Case& c : cases) {
        const SilenceVerdict verdict = silenceOf(c.installer, c.form);
        EXPECT_EQ(verdict.known, c.known) << c.said;
        EXPECT_EQ(verdict.silent, c.silent) << c.said;
        EXPECT_TRUE(holds(verdict.text, c.said));
        // A known mismatch says what to do: a wrapper, or the other marker.
        EXPECT_EQ(verdict.advice.empty(), verdict.silent || !verdict.known) << c.said;
    }
    EXPECT_TRUE(holds(silenceOf({InstallerKind::nsis, false}, SetupForm::silent).advice,
                      "starts it with /S when it is given -s"));
    EXPECT_TRUE(
        holds(silenceOf({InstallerKind::wixBurn, false}, SetupForm::msiQuiet).advice, "without --marker msi.tag"));
}
