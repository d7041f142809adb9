// Helpers for the kestrune-medium tests: scratch folders, files, stand-in
// Windows programs and runs of the built tool.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace medium_test {

using namespace testing_support;

void makeDirectories(const std::string& path);
bool exists(const std::string& path);
// Names in a folder, sorted; hidden ones too.
std::vector<std::string> listDirectory(const std::string& path);
// Everything below `directory`, sorted: "name=content" for a file,
// "name/" for a folder, "name->target" for a link, with owners and modes
// ("name/ 0750 0:0"); what a refused command must leave as it was.
std::vector<std::string> treeOf(const std::string& directory);
// Names in `directory` that look like the tool's temporary folders.
std::vector<std::string> stagingLeftovers(const std::string& directory);

// The headers of a Windows PE program and nothing more: what the tool looks
// for in setup.exe and unzip.exe. `characteristics` is the file header's.
std::string peImage(uint16_t characteristics = 0x0102, const std::string& body = "");
// A stand-in launcher: a PE image that holds the package password, ending in
// zero padding as a linker's last section does.
std::string fakeLauncher();

// A PE32 program with one section that holds `body` (at most 4096 bytes),
// whole enough for osslsigncode to sign it.
std::string peProgram(const std::string& body);
// A stand-in launcher that osslsigncode can sign: it holds the package
// password.
std::string signableLauncher();

// Installers as check tells them apart, by the markers each kind carries.
// NSIS: a first header (flags, 0xDEADBEEF, "NullsoftInst") at a multiple of
// 512 bytes, as makensis writes it (`silent`: SilentInstall silent). The
// others are crafted: a signable program carrying the kind's marker, the
// Inno Setup one twice (the loader's "rDlPtS" table, or the setup data's
// name far behind the program's start), InstallShield's name in UTF-16 as
// version information holds it, and Burn's ".wixburn" section.
std::string craftedNsisInstaller(bool silent);
std::string craftedInnoSetupLoader();
std::string craftedInnoSetupData();
std::string craftedInstallShieldLauncher();
std::string craftedBurnBundle();
// An NSIS installer made by Debian's makensis from a script with one empty
// section (`silent`: SilentInstall silent), in `folder`.
std::string makensisInstaller(const std::string& folder, bool silent);

// `count` bytes that deflate cannot shrink.
std::string incompressibleBytes(size_t count, uint64_t seed = 1);

// A payload folder: SETUP.EXE (a PE image), docs/readme.txt, an empty
// folder and PostProcess.cmd.
void makePayload(const std::string& directory);

// Whether `text` holds `part`; a failure shows both.
testing::AssertionResult holds(const std::string& text, const std::string& part);
// Whether `problem` is what a table row expects: none when `expected` is
// "", else one that holds `expected`.
testing::AssertionResult isProblem(const std::string& problem, const std::string& expected);
// How often `part` stands in `text`, overlaps counted.
size_t countOf(const std::string& text, const std::string& part);
// Whether a line of `report` that starts with `start` holds `text`.
bool hasLine(const std::string& report, const std::string& start, const std::string& text);

struct ToolRun {
    int status = -1;  // exit code, or 128 + signal
    std::string out;
    std::string err;
    bool contains(const std::string& text) const {
        return out.find(text) != std::string::npos || err.find(text) != std::string::npos;
    }
};

// Runs kestrune-medium with `arguments`; stdout and stderr go to files.
// `environment` holds "NAME=value" settings on top of this process's own.
ToolRun runTool(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {});
// A run the tool must refuse: its arguments, settings on top of the
// environment, its exit status and a text its error stream must hold.
struct RefusedRun {
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    int status;
    std::string message;
};
// Runs `refused`, `environment` added to its own, and checks its status and
// its message.
ToolRun expectRefused(const RefusedRun& refused, const std::vector<std::string>& environment = {});
// Starts a program without waiting for it; its stdout and stderr go to the
// files named (created or emptied). -1 when it cannot be started.
pid_t startProgram(const std::vector<std::string>& command, const std::string& outPath, const std::string& errPath,
                   const std::vector<std::string>& environment = {});
// Runs a program with `arguments` the same way.
ToolRun runProgram(const std::vector<std::string>& command, const std::vector<std::string>& environment = {});

// A code-signing certificate and its key, made with openssl for one test
// in a scratch folder and never kept; a second, unrelated pair; the first
// key again, encrypted with `password`, which `passFile` holds.
struct TestSigner {
    ScratchDirectory folder;
    std::string certificate = folder / "cert.pem";
    std::string key = folder / "key.pem";
    std::string otherCertificate = folder / "other-cert.pem";
    std::string otherKey = folder / "other-key.pem";
    std::string encryptedKey = folder / "encrypted-key.pem";
    std::string password = "correct horse 42";
    std::string passFile = folder / "pass.txt";
    TestSigner();
};

// What `osslsigncode verify` says of `path`, trusting `caFile`; its exit
// status in `status`.
std::string osslsigncodeVerify(const std::string& path, const std::string& caFile, int& status);

// A table row of what a test does to a file or folder before the tool runs
// (below a scratch folder, for whatever else it needs), and a text the
// tool's refusal must hold.
struct SpoiledCase {
    const char* what;
    void (*spoil)(const std::string& path, const std::string& scratch);
    const char* expected;
};

// Unpacks an archive with the extraction tool's own reader and returns
// "name=content" of every file, sorted, or an error text.
std::vector<std::string> archiveContents(const std::string& path, const char* password);
// The same "name=content" list for the files below a payload folder.
std::vector<std::string> payloadContents(const std::string& directory);

// A scratch folder with what the commands take: a payload, a stand-in
// launcher and extractor, and files that are not programs.
struct Workspace {
    ScratchDirectory scratch;
    std::string payload = scratch / "payload";
    std::string launcher = scratch / "launcher.exe";
    std::string extractor = scratch / "extractor.exe";
    std::string medium = scratch / "medium";

    Workspace();

    // The arguments of a build of the payload (or another) into the medium.
    std::vector<std::string> build(std::vector<std::string> extra = {}, const std::string& payloadDirectory = "") const;
    // The same into another folder.
    std::vector<std::string> buildTo(const std::string& out, std::vector<std::string> extra = {}) const;
    std::vector<std::string> buildUsing(const std::string& launcherFile, const std::string& extractorFile) const;
    ToolRun check(std::vector<std::string> extra = {}) const;
};

}  // namespace medium_test
