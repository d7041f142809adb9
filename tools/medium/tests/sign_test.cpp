// kestrune-medium sign, and what markers and check say of signed media, as
// a user runs them: with a certificate and key made for the test by
// openssl, media of programs osslsigncode can sign, and osslsigncode
// verify as the independent judge of every signature.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>

#include "launcher/constants.h"
#include "little_endian.h"
#include "medium_test_support.h"
#include "package_password.h"
#include "host_program.h"
#include "signing.h"

using namespace medium_test;

namespace {

// A workspace whose launcher and extractor osslsigncode can sign.
struct SigningWorkspace : Workspace {
    TestSigner signer;
    SigningWorkspace() {
        writeFile(launcher, signableLauncher());
        writeFile(extractor, peProgram("the extractor"));
    }
    std::vector<std::string> sign(std::vector<std::string> extra = {}) const {
        std::vector<std::string> arguments = {"sign", medium, "--cert", signer.certificate, "--key", signer.key};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }
    bool verifies(const std::string& file) const {
        int status = -1;
        const std::string report = osslsigncodeVerify(file, signer.certificate, status);
        return status == 0 && report.find("Signature verification: ok") != std::string::npos &&
               report.find("invalid PE checksum") == std::string::npos;
    }
};

const std::string msiLine = std::string(msiMarkerTag) + " \r\n";

}  // namespace

TEST(MediumSign, SignsBothProgramsAndPutsTheMarkersBackWhereTheLauncherSeesThem) {
    SigningWorkspace w;
    ASSERT_EQ(runTool(w.build({"--marker", "msi.tag"})).status, 0);
    const ToolRun signedRun = runTool(w.sign());
    ASSERT_EQ(signedRun.status, 0) << signedRun.err;
    EXPECT_TRUE(holds(signedRun.out,
                      "setup.exe: signed by /CN=Kestrune Test Publisher/O=kestrune tests, markers: msi.tag "
                      "(inside the signature, in the last 256 bytes)"));
    for (const char* program : {"setup.exe", "unzip.exe"}) {
        EXPECT_TRUE(w.verifies(w.medium + "/" + program)) << program;
    }
    const std::string setup = readFile(w.medium + "/setup.exe");
    EXPECT_EQ(setup.substr(setup.size() - msiLine.size()), msiLine) << "the file's last bytes";

    const ToolRun markers = runTool({"markers", w.medium + "/setup.exe", "--ca-file", w.signer.certificate});
    EXPECT_EQ(markers.status, 0) << markers.out;
    EXPECT_TRUE(holds(markers.out, "signature: by /CN=Kestrune Test Publisher/O=kestrune tests; verified"));
    EXPECT_TRUE(holds(markers.out, "marker: msi.tag\n"));
    EXPECT_TRUE(holds(markers.out, "msi.tag: seen by the launcher"));

    const ToolRun trusted = w.check({"--ca-file", w.signer.certificate});
    EXPECT_EQ(trusted.status, 0) << trusted.out;
    EXPECT_TRUE(
        holds(trusted.out, "markers: msi.tag (every marker line stands in the last 256 bytes, inside the signature)"));
    EXPECT_EQ(countOf(trusted.out, "; verified: the file is as it was signed and the certificate is trusted"), 2u)
        << trusted.out;
    EXPECT_TRUE(holds(trusted.out, "/qn REBOOT=ReallySuppress ["));
    // This machine does not trust the test's certificate: Windows' stores decide.
    const ToolRun untrusted = w.check();
    EXPECT_EQ(untrusted.status, 0) << untrusted.out;
    EXPECT_TRUE(hasLine(untrusted.err, "kestrune-medium: warning: setup.exe: ",
                        "not trusted by this machine (self-signed certificate)"))
        << untrusted.err;
    const ToolRun otherAuthority = w.check({"--ca-file", w.signer.otherCertificate});
    EXPECT_EQ(otherAuthority.status, 1) << otherAuthority.out;
    EXPECT_TRUE(hasLine(otherAuthority.out, "problem: setup.exe: ", "does not verify against")) << otherAuthority.out;

    // Signed again, and marked again: one line each, the signature valid.
    const ToolRun again = runTool(w.sign());
    ASSERT_EQ(again.status, 0) << again.err;
    const ToolRun marked = runTool({"mark", w.medium + "/setup.exe", "product=demo", "--any-marker"});
    ASSERT_EQ(marked.status, 0) << marked.err;
    EXPECT_TRUE(holds(marked.out, "marked with product=demo (inside its signature, which stays valid)"));
    EXPECT_TRUE(w.verifies(w.medium + "/setup.exe"));
    const ToolRun listed = runTool({"markers", w.medium + "/setup.exe"});
    EXPECT_EQ(countOf(listed.out, "marker: msi.tag"), 1u) << listed.out;
    EXPECT_TRUE(holds(listed.out, "marker: product=demo"));
    const ToolRun already = runTool({"mark", w.medium + "/setup.exe", "msi.tag"});
    EXPECT_TRUE(holds(already.out, "already marked with msi.tag"));
}

// After signing, the markers may fall out of the window: a later append,
// or a signature made after marking by another tool. check and markers say
// so; mark (or sign) puts them back inside the signature.
TEST(MediumSign, MarkersOutOfTheWindowOfASignedLauncherAreProblems) {
    SigningWorkspace w;
    ASSERT_EQ(runTool(w.build({"--marker", "msi.tag"})).status, 0);
    const std::string setup = w.medium + "/setup.exe";
    ASSERT_EQ(runTool(w.sign()).status, 0);
    const std::string signedSetup = readFile(setup);

    writeFile(setup, signedSetup + std::string(300, '\x82'));
    const ToolRun appended = w.check({"--ca-file", w.signer.certificate});
    EXPECT_EQ(appended.status, 1) << appended.out;
    EXPECT_TRUE(hasLine(appended.out, "problem: ", "marker 'msi.tag' starts 310 bytes before the end of setup.exe"))
        << appended.out;
    EXPECT_TRUE(hasLine(appended.out, "problem: setup.exe: ", "300 bytes follow its signature block")) << appended.out;
    EXPECT_TRUE(hasLine(appended.out, "problem: setup.exe: its signature does not verify", "")) << appended.out;
    EXPECT_TRUE(holds(appended.out, "silent form, -s -SMS"));
    EXPECT_EQ(runTool({"markers", setup}).status, 1);
    // Signed again: what was appended is left out, and said so.
    const ToolRun resigned = runTool(w.sign());
    EXPECT_EQ(resigned.status, 0) << resigned.err;
    EXPECT_TRUE(holds(resigned.err, "warning: 300 bytes that followed the old signature of setup.exe"));
    EXPECT_TRUE(w.verifies(setup));
    EXPECT_EQ(w.check({"--ca-file", w.signer.certificate}).status, 0);

    // osslsigncode run by hand on a marked launcher: the line is 1.5 KB away.
    ASSERT_EQ(runTool(w.build({"--marker", "msi.tag", "--force"})).status, 0);
    const std::string marked = w.scratch / "marked.exe";
    writeFile(marked, readFile(setup));
    std::remove(setup.c_str());
    const ToolRun byHand = runProgram(
        {"osslsigncode", "sign", "-certs", w.signer.certificate, "-key", w.signer.key, "-in", marked, "-out", setup});
    ASSERT_EQ(byHand.status, 0) << byHand.err;
    const ToolRun outside = w.check({"--ca-file", w.signer.certificate});
    EXPECT_EQ(outside.status, 1) << outside.out;
    EXPECT_TRUE(hasLine(outside.out, "problem: marker 'msi.tag' starts ", "the launcher does not see it"))
        << outside.out;
    EXPECT_TRUE(hasLine(outside.out, "hint: ", "puts marker lines inside the signature")) << outside.out;
    const ToolRun moved = runTool({"mark", setup, "msi.tag"});
    EXPECT_EQ(moved.status, 0) << moved.err;
    EXPECT_TRUE(holds(moved.out, "its marker lines now stand inside its signature"));
    EXPECT_TRUE(w.verifies(setup));
    EXPECT_EQ(w.check({"--ca-file", w.signer.certificate}).status, 0);

    // A line written into the signature block by hand verifies with
    // osslsigncode, but not where Windows checks padding strictly.
    ASSERT_EQ(runTool(w.sign()).status, 0);
    std::string grown = readFile(setup) + "hand.tag \r\n";
    grown += std::string((8 - grown.size() % 8) % 8, '\0');
    const size_t entry = 0x84 + 20 + 96 + 4 * 8;  // signableLauncher's certificate table entry
    const uint32_t table = readLittle32(grown, entry);
    const uint32_t size = static_cast<uint32_t>(grown.size() - table);
    writeLittle(grown, entry + 4, size, 4);
    writeLittle(grown, table, size, 4);
    writeFile(setup, grown);
    const ToolRun strict = w.check({"--ca-file", w.signer.certificate});
    EXPECT_EQ(strict.status, 1) << strict.out;
    EXPECT_TRUE(hasLine(strict.out, "problem: setup.exe: its signature block holds ", "checks padding strictly"))
        << strict.out;
}

// Nothing of the medium changes, no temporary file is left, and neither the
// key nor its password shows, whatever is wrong.
TEST(MediumSign, BadInputIsRefusedAndChangesNothing) {
    SigningWorkspace w;
    ASSERT_EQ(runTool(w.build({"--marker", "msi.tag"})).status, 0);
    const TestSigner& k = w.signer;
    const std::string s = w.scratch.path;
    writeFile(s + "/wrong-pass.txt", "not the password\n");
    makeDirectories(s + "/half");
    writeFile(s + "/half/setup.exe", readFile(w.medium + "/setup.exe"));
    makeDirectories(s + "/tmp");
    // Marker lines longer than the window, as mark --any-marker may write them.
    makeDirectories(s + "/crowded");
    for (const char* name : {"unzip.exe", "package.zip"}) {
        writeFile(s + "/crowded/" + name, readFile(w.medium + "/" + name));
    }
    writeFile(s + "/crowded/setup.exe",
              readFile(w.medium + "/setup.exe") + std::string(150, 'a') + " \r\n" + std::string(150, 'b') + " \r\n");
    const RefusedRun cases[] = {
        {{"sign", w.medium, "--cert", k.certificate, "--key", s + "/missing.pem"},
         {},
         1,
         "the key '" + s + "/missing.pem' does not exist; nothing was signed"},
        {{"sign", w.medium, "--cert", s + "/missing.pem", "--key", k.key}, {}, 1, "the certificate '"},
        {{"sign", w.medium, "--cert", k.certificate, "--key", k.certificate},
         {},
         1,
         "cannot use the key '" + k.certificate + "': it is no private key osslsigncode can read"},
        {{"sign", w.medium, "--cert", k.certificate, "--key", k.otherKey},
         {},
         1,
         "the key '" + k.otherKey + "' does not belong to the certificate '" + k.certificate + "'"},
        {{"sign", w.medium, "--cert", k.certificate, "--key", k.encryptedKey}, {}, 1, "no --pass-file was given"},
        {{"sign", w.medium, "--cert", k.certificate, "--key", k.encryptedKey, "--pass-file", s + "/wrong-pass.txt"},
         {},
         1,
         "the password in '" + s + "/wrong-pass.txt' is not its own"},
        {{"sign", w.medium, "--cert", k.certificate, "--key", k.key, "--pass-file", s + "/none.txt"},
         {},
         1,
         "the password file '" + s + "/none.txt' does not exist"},
        {{"sign", s + "/missing", "--cert", k.certificate, "--key", k.key}, {}, 1, "does not exist"},
        {{"sign", s + "/notes.txt", "--cert", k.certificate, "--key", k.key},
         {},
         1,
         "is neither a folder nor a disc image"},
        {{"sign", s + "/half", "--cert", k.certificate, "--key", k.key}, {}, 1, "unzip.exe is missing in"},
        {{"sign", s + "/crowded", "--cert", k.certificate, "--key", k.key},
         {},
         1,
         "(316 bytes) do not fit in the last 256 bytes; nothing was signed"},
        {{"sign", w.medium, "--cert", k.certificate}, {}, 2, "sign needs --cert CERT and --key KEY"},
        {{"sign", "--cert", k.certificate, "--key", k.key}, {}, 2, "sign takes one medium folder"},
        {{"sign", w.medium, "--cert", k.certificate, "--key", k.key},
         {"PATH=" + s + "/no-programs"},
         1,
         "osslsigncode is not installed or not on PATH"},
    };
    const std::vector<std::string> before = treeOf(w.medium);
    const std::vector<std::string> halfBefore = treeOf(s + "/half");
    const std::vector<std::string> crowdedBefore = treeOf(s + "/crowded");
    const std::string keyText = readFile(k.key);
    for (const RefusedRun& c : cases) {
        const ToolRun run = expectRefused(c, {"TMPDIR=" + s + "/tmp"});
        EXPECT_EQ(treeOf(w.medium), before) << c.message;
        EXPECT_EQ(treeOf(s + "/half"), halfBefore) << c.message;
        EXPECT_EQ(treeOf(s + "/crowded"), crowdedBefore) << c.message;
        EXPECT_EQ(listDirectory(s + "/tmp"), std::vector<std::string>{}) << c.message;
        EXPECT_FALSE(run.contains(k.password)) << c.message;
        EXPECT_FALSE(run.contains(keyText.substr(40, 64))) << c.message;
    }
    // The encrypted key with its password signs, and says nothing of either.
    const ToolRun encrypted =
        runTool({"sign", w.medium, "--cert", k.certificate, "--key", k.encryptedKey, "--pass-file", k.passFile},
                {"TMPDIR=" + s + "/tmp"});
    EXPECT_EQ(encrypted.status, 0) << encrypted.err;
    EXPECT_FALSE(encrypted.contains(k.password));
    EXPECT_TRUE(w.verifies(w.medium + "/setup.exe"));
    EXPECT_EQ(listDirectory(s + "/tmp"), std::vector<std::string>{});
    EXPECT_EQ(listDirectory(w.medium), (std::vector<std::string>{"package.zip", "setup.exe", "unzip.exe"}));
}

// A launcher signed before the medium is built keeps its signature valid:
// build writes the markers into it.
TEST(MediumSign, BuildPutsMarkersIntoTheSignatureOfASignedLauncher) {
    SigningWorkspace w;
    const std::string signedLauncher = w.scratch / "signed-launcher.exe";
    const ToolRun made = runProgram({"osslsigncode", "sign", "-certs", w.signer.certificate, "-key", w.signer.key,
                                     "-in", w.launcher, "-out", signedLauncher});
    ASSERT_EQ(made.status, 0) << made.err;
    const ToolRun built = runTool({"build", w.payload, "--out", w.medium, "--launcher", signedLauncher, "--extractor",
                                   w.extractor, "--marker", "msi.tag"});
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_TRUE(holds(built.out, "markers: msi.tag (inside its signature, which stays valid)"));
    EXPECT_TRUE(w.verifies(w.medium + "/setup.exe"));
    const ToolRun checked = w.check({"--ca-file", w.signer.certificate});
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_TRUE(holds(checked.out,
                      "markers: msi.tag (every marker line stands in the last 256 bytes, inside the "
                      "signature)"));
}

// --timestamp against a time-stamping service on this machine: the time
// stamp is a countersignature beside the marker attribute, and both hold.
TEST(MediumSign, ATimeStampStandsBesideTheMarkers) {
    SigningWorkspace w;
    ASSERT_EQ(runTool(w.build({"--marker", "msi.tag"})).status, 0);
    const std::string service = w.scratch / "tsa";
    makeDirectories(service);
    const pid_t pid =
        startProgram({"python3", KESTRUNE_TSA_SERVER, service}, w.scratch / "tsa.out", w.scratch / "tsa.err");
    ASSERT_GT(pid, 0);
    // The service writes its port once it listens; it ends only when killed.
    std::string port;
    for (int attempt = 0; attempt < 600 && port.empty(); ++attempt) {
        port = readFile(service + "/port");
        if (port.empty()) usleep(50000);
    }
    ASSERT_FALSE(port.empty()) << readFile(w.scratch / "tsa.err");
    const ToolRun signedRun = runTool(w.sign({"--timestamp", "http://127.0.0.1:" + port}));
    const ToolRun unreachable = runTool(w.sign({"--timestamp", "http://127.0.0.1:1"}));
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    ASSERT_EQ(signedRun.status, 0) << signedRun.err;
    EXPECT_TRUE(holds(signedRun.out, "signed by /CN=Kestrune Test Publisher/O=kestrune tests, time-stamped"));
    const std::string authorities = w.scratch / "authorities.pem";
    writeFile(authorities, readFile(w.signer.certificate) + readFile(service + "/tsa-cert.pem"));
    const ToolRun checked = w.check({"--ca-file", authorities});
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_TRUE(
        holds(checked.out, "setup.exe signature: by /CN=Kestrune Test Publisher/O=kestrune tests, time-stamped "));
    EXPECT_TRUE(holds(checked.out, "markers: msi.tag (every marker line stands in the last 256 bytes"));

    EXPECT_EQ(unreachable.status, 1);
    EXPECT_TRUE(holds(unreachable.err, "the time-stamping service 'http://127.0.0.1:1' gave no time stamp"));
}

// What osslsigncode verify reports, as this tool reads it.
TEST(SignatureVerification, IsReadFromOsslsigncodesReport) {
    SigningWorkspace w;
    ASSERT_EQ(runTool(w.build()).status, 0);
    ASSERT_EQ(runTool(w.sign()).status, 0);
    const std::string setup = w.medium + "/setup.exe";
    const std::string signedSetup = readFile(setup);
    std::string changed = signedSetup;
    changed[0x300] = static_cast<char>(changed[0x300] ^ 1);  // in the section
    struct Case {
        const char* what;
        std::string file;
        std::string caFile;
        bool found, digestMatches, verified;
        const char* reason;  // among the reasons, or ""
    } cases[] = {
        {"trusted", signedSetup, w.signer.certificate, true, true, true, ""},
        {"self-signed, not trusted", signedSetup, "", true, true, false, "self-signed certificate"},
        {"changed after signing", changed, w.signer.certificate, true, false, false, "digest differs"},
        {"bytes after the signature", signedSetup + "x", w.signer.certificate, false, false, false,
         "no signature found"},
    };
    for (const Case& c : cases) {
        writeFile(setup, c.file);
        const Verification result = verifyFile(findOnPath("osslsigncode"), setup, c.caFile);
        EXPECT_TRUE(result.ran) << c.what;
        EXPECT_EQ(result.signatureFound, c.found) << c.what;
        EXPECT_EQ(result.digestMatches, c.digestMatches) << c.what;
        EXPECT_EQ(result.verified, c.verified) << c.what;
        // osslsigncode names the signer only once the digest matches.
        if (c.digestMatches) {
            EXPECT_EQ(result.signer, "/CN=Kestrune Test Publisher/O=kestrune tests") << c.what;
        }
        std::string reasons;
        for (const std::string& reason : result.reasons) reasons += reason + "; ";
        EXPECT_NE(reasons.find(c.reason), std::string::npos) << c.what << ": " << reasons;
    }
}
