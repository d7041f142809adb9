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
#include "certificate.h"
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

// A certificate for `subject` and its key, made by openssl in `folder`:
// FOLDER/NAME.pem and FOLDER/NAME.key. `extensions` are req -addext values.
// With `start` and `end` (YYYYMMDDHHMMSSZ), openssl ca dates it, past or
// future; else it is valid from now for `days`.
struct CertificateSpec {
    std::string name;
    std::string subject;
    std::vector<std::string> extensions;
    int days = 365;
    std::string start, end;
};

void makeCertificate(const std::string& folder, const CertificateSpec& spec) {
    const std::string certificate = folder + "/" + spec.name + ".pem";
    const std::string key = folder + "/" + spec.name + ".key";
    std::vector<std::string> request = {
        "openssl", "req",   "-newkey",    "ec",      "-pkeyopt", "ec_paramgen_curve:prime256v1",
        "-nodes",  "-subj", spec.subject, "-keyout", key};
    for (const std::string& extension : spec.extensions) request.insert(request.end(), {"-addext", extension});
    if (spec.start.empty()) {
        request.insert(request.end(), {"-x509", "-days", std::to_string(spec.days), "-out", certificate});
        const ToolRun made = runProgram(request);
        ASSERT_EQ(made.status, 0) << made.err;
        return;
    }
    // openssl ca signs a request with the dates given; it wants a database.
    const std::string ca = folder + "/ca-" + spec.name;
    makeDirectories(ca);
    writeFile(ca + "/index.txt", "");
    writeFile(ca + "/serial", "01\n");
    writeFile(ca + "/ca.cnf", "[ca]\ndefault_ca = test\n[test]\ndatabase = " + ca +
                                  "/index.txt\nnew_certs_dir = " + ca + "\nserial = " + ca +
                                  "/serial\ndefault_md = sha256\npolicy = any\ncopy_extensions = copy\n"
                                  "[any]\ncommonName = supplied\n");
    request.insert(request.end(), {"-new", "-out", ca + "/request.pem"});
    const ToolRun requested = runProgram(request);
    ASSERT_EQ(requested.status, 0) << requested.err;
    const ToolRun made = runProgram({"openssl", "ca", "-batch", "-config", ca + "/ca.cnf", "-selfsign", "-keyfile", key,
                                     "-in", ca + "/request.pem", "-startdate", spec.start, "-enddate", spec.end,
                                     "-notext", "-out", certificate});
    ASSERT_EQ(made.status, 0) << made.err;
}

}  // namespace

// The certificate is judged before anything is signed: one that cannot
// sign code is refused with the reason, and the medium stays as it was.
TEST(MediumSign, TheCertificateIsCheckedFirst) {
    SigningWorkspace w;
    ASSERT_EQ(runTool(w.build({"--marker", "msi.tag"})).status, 0);
    const std::string s = w.scratch.path;
    const std::string codeSigning = "extendedKeyUsage=codeSigning";
    const CertificateSpec specs[] = {
        {"server", "/CN=Server Only", {"extendedKeyUsage=serverAuth"}, 365, "", ""},
        {"no-eku", "/CN=Any Purpose", {}, 365, "", ""},
        {"encipher", "/CN=Encipher Only", {codeSigning, "keyUsage=keyEncipherment"}, 365, "", ""},
        {"signing-usage", "/CN=Signing Usage", {codeSigning, "keyUsage=digitalSignature"}, 365, "", ""},
        {"expired", "/CN=Expired", {codeSigning}, 0, "20200101000000Z", "20200201000000Z"},
        {"future", "/CN=Future", {codeSigning}, 0, "20990101000000Z", "21000101000000Z"},
        {"soon", "/CN=Expiring Soon", {codeSigning}, 10, "", ""},
        {"authority", "/CN=An Authority", {"extendedKeyUsage=serverAuth"}, 365, "", ""},
    };
    for (const CertificateSpec& spec : specs) makeCertificate(s, spec);
    // A chain whose first certificate is not the signer's: the key decides.
    writeFile(s + "/chain.pem", readFile(s + "/authority.pem") + readFile(s + "/signing-usage.pem"));
    struct Case {
        const char* certificate;
        const char* key;
        int status;
        std::string message;  // on stderr
        const char* signer;   // of the signature made, when it was made
    } cases[] = {
        {"server", "server", 1,
         "the certificate '" + s +
             "/server.pem' (/CN=Server Only) cannot sign code: its extended key usage allows "
             "serverAuth, not codeSigning",
         nullptr},
        {"encipher", "encipher", 1,
         "(/CN=Encipher Only) cannot sign code: its key usage does not include digitalSignature", nullptr},
        {"expired", "expired", 1, "(/CN=Expired) cannot sign code: it expired on 2020-02-01 00:00:00 UTC", nullptr},
        {"future", "future", 1, "(/CN=Future) cannot sign code: it is not valid before 2099-01-01 00:00:00 UTC",
         nullptr},
        {"signing-usage", "server", 1,
         "the key '" + s + "/server.key' does not belong to the certificate '" + s + "/signing-usage.pem'", nullptr},
        {"chain", "expired", 1, "does not belong to any certificate in '" + s + "/chain.pem'", nullptr},
        // Without extended key usages a certificate serves every purpose.
        {"no-eku", "no-eku", 0, "", "/CN=Any Purpose"},
        {"signing-usage", "signing-usage", 0, "", "/CN=Signing Usage"},
        {"chain", "signing-usage", 0, "", "/CN=Signing Usage"},
        {"soon", "soon", 0, "warning: the certificate '" + s + "/soon.pem' (/CN=Expiring Soon): it expires on ",
         "/CN=Expiring Soon"},
    };
    const std::vector<std::string> before = treeOf(w.medium);
    for (const Case& c : cases) {
        const std::string certificate = s + "/" + c.certificate + ".pem";
        const ToolRun run = runTool({"sign", w.medium, "--cert", certificate, "--key", s + "/" + c.key + ".key"});
        EXPECT_EQ(run.status, c.status) << c.certificate << "\n" << run.err;
        EXPECT_TRUE(holds(run.err, c.message)) << c.certificate;
        if (c.signer == nullptr) {
            EXPECT_TRUE(holds(run.err, "kestrune-medium: error: nothing was signed")) << c.certificate;
            EXPECT_EQ(treeOf(w.medium), before) << c.certificate;
            continue;
        }
        EXPECT_TRUE(holds(run.out, std::string("setup.exe: signed by ") + c.signer)) << c.certificate;
        int status = -1;
        osslsigncodeVerify(w.medium + "/setup.exe", certificate, status);
        EXPECT_EQ(status, 0) << c.certificate;
        ASSERT_EQ(runTool(w.build({"--marker", "msi.tag", "--force"})).status, 0);
    }
    EXPECT_TRUE(holds(runTool({"sign", w.medium, "--cert", s + "/soon.pem", "--key", s + "/soon.key"}).err,
                      " (in 9 days); the signatures stay valid after that only with a time stamp (--timestamp URL)"));
}

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

    // Rebuilt over the signed medium: the new one is not signed, and said so.
    const ToolRun rebuilt = runTool(w.build({"--force"}));
    ASSERT_EQ(rebuilt.status, 0) << rebuilt.err;
    EXPECT_TRUE(holds(rebuilt.err, "kestrune-medium: warning: the medium folder '" + w.medium +
                                       "' was signed; in the new one setup.exe and unzip.exe are not: sign it with "
                                       "kestrune-medium sign '" +
                                       w.medium + "' --cert CERT --key KEY"));
    const ToolRun unsignedAgain = runTool(w.build({"--force"}));
    EXPECT_FALSE(holds(unsignedAgain.err, "was signed")) << unsignedAgain.err;
    // A signed unzip.exe given through a link stays signed: only setup.exe is not.
    ASSERT_EQ(runTool(w.sign()).status, 0);
    writeFile(w.scratch / "signed-unzip.exe", readFile(w.medium + "/unzip.exe"));
    ASSERT_EQ(symlink("signed-unzip.exe", (w.scratch / "unzip-link.exe").c_str()), 0);
    const ToolRun linked = runTool({"build", w.payload, "--out", w.medium, "--force", "--launcher", w.launcher,
                                    "--extractor", w.scratch / "unzip-link.exe"});
    ASSERT_EQ(linked.status, 0) << linked.err;
    EXPECT_TRUE(holds(linked.err, "was signed; in the new one setup.exe is not: sign it")) << linked.err;
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

// The certificate files osslsigncode takes, read here: PEM (the first block
// need not be the signer's), DER, and PKCS#7 bundles in either form.
TEST(SigningCertificates, AreReadFromEachFormOsslsigncodeTakes) {
    ScratchDirectory scratch;
    const std::string s = scratch.path;
    makeCertificate(
        s,
        {"leaf", "/CN=Leaf/O=Example Ltd", {"extendedKeyUsage=codeSigning", "keyUsage=digitalSignature"}, 365, "", ""});
    makeCertificate(s, {"other", "/CN=Other", {}, 0, "20200101000000Z", "20500101000000Z"});
    writeFile(s + "/chain.pem", readFile(s + "/other.pem") + readFile(s + "/leaf.pem"));
    for (const auto& [out, options] :
         {std::pair<std::string, std::vector<std::string>>{"leaf.der",
                                                           {"x509", "-in", s + "/leaf.pem", "-outform", "DER"}},
          {"chain.p7b", {"crl2pkcs7", "-nocrl", "-certfile", s + "/chain.pem", "-outform", "DER"}},
          {"chain.p7b.pem", {"crl2pkcs7", "-nocrl", "-certfile", s + "/chain.pem"}}}) {
        std::vector<std::string> command = {"openssl"};
        command.insert(command.end(), options.begin(), options.end());
        command.insert(command.end(), {"-out", s + "/" + out});
        ASSERT_EQ(runProgram(command).status, 0) << out;
    }
    struct Case {
        const char* file;
        std::vector<std::string> subjects;  // none: unreadable
    } cases[] = {
        {"leaf.pem", {"/CN=Leaf/O=Example Ltd"}},
        {"chain.pem", {"/CN=Other", "/CN=Leaf/O=Example Ltd"}},
        {"leaf.der", {"/CN=Leaf/O=Example Ltd"}},
        {"chain.p7b", {"/CN=Other", "/CN=Leaf/O=Example Ltd"}},
        {"chain.p7b.pem", {"/CN=Other", "/CN=Leaf/O=Example Ltd"}},
        {"leaf.key", {}},
    };
    for (const Case& c : cases) {
        std::vector<CertificateInfo> certificates;
        std::string error;
        EXPECT_EQ(readCertificates(readFile(s + "/" + c.file), certificates, error), !c.subjects.empty()) << c.file;
        std::vector<std::string> subjects;
        for (const CertificateInfo& certificate : certificates) subjects.push_back(certificate.subject);
        EXPECT_EQ(subjects, c.subjects) << c.file << ": " << error;
    }
    std::vector<CertificateInfo> chain;
    std::string error;
    ASSERT_TRUE(readCertificates(readFile(s + "/chain.pem"), chain, error));
    EXPECT_EQ(utcText(chain[0].notBefore), "2020-01-01 00:00:00 UTC");
    EXPECT_EQ(utcText(chain[0].notAfter), "2050-01-01 00:00:00 UTC");  // GeneralizedTime from 2050 on
    EXPECT_FALSE(chain[0].hasExtendedKeyUsage);
    EXPECT_TRUE(chain[1].hasKeyUsage && chain[1].digitalSignature);
    EXPECT_EQ(chain[1].extendedKeyUsages, std::vector<std::string>{"1.3.6.1.5.5.7.3.3"});
    const ToolRun key = runProgram({"openssl", "pkey", "-in", s + "/leaf.key", "-pubout", "-outform", "DER"});
    EXPECT_EQ(certificateOfKey(chain, key.out), 1);
}

TEST(SigningCertificates, AreJudgedForCodeSigningAtAGivenTime) {
    const int64_t day = 86400, now = 1767225600;  // 2026-01-01
    CertificateInfo good;
    good.notBefore = now - 10 * day;
    good.notAfter = now + 400 * day;
    good.hasExtendedKeyUsage = true;
    good.extendedKeyUsages = {"1.3.6.1.5.5.7.3.3"};
    struct Case {
        const char* what;
        void (*change)(CertificateInfo&);
        const char* problem;  // "" for none
        const char* warning;
    } cases[] = {
        {"code signing", [](CertificateInfo&) {}, "", ""},
        {"no extended key usage", [](CertificateInfo& c) { c.hasExtendedKeyUsage = false; }, "", ""},
        {"server and client only",
         [](CertificateInfo& c) {
             c.extendedKeyUsages = {"1.3.6.1.5.5.7.3.1", "1.3.6.1.5.5.7.3.2"};
         },
         "its extended key usage allows serverAuth, clientAuth, not codeSigning", ""},
        {"any purpose only", [](CertificateInfo& c) { c.extendedKeyUsages = {"2.5.29.37.0"}; },
         "allows anyExtendedKeyUsage, not codeSigning", ""},
        {"key usage without digitalSignature", [](CertificateInfo& c) { c.hasKeyUsage = true; },
         "does not include digitalSignature", ""},
        {"key usage with it", [](CertificateInfo& c) { c.hasKeyUsage = c.digitalSignature = true; }, "", ""},
        {"not yet valid", [](CertificateInfo& c) { c.notBefore = 1767225601; },
         "it is not valid before 2026-01-01 00:00:01 UTC", ""},
        {"expired", [](CertificateInfo& c) { c.notAfter = 1767225599; }, "it expired on 2025-12-31 23:59:59 UTC", ""},
        {"30 days left", [](CertificateInfo& c) { c.notAfter = 1767225600 + 30 * 86400; }, "", ""},
        {"29 days left", [](CertificateInfo& c) { c.notAfter = 1767225600 + 30 * 86400 - 1; }, "",
         "it expires on 2026-01-30 23:59:59 UTC (in 29 days)"},
        {"hours left", [](CertificateInfo& c) { c.notAfter = 1767225600 + 3600; }, "", "(in less than a day)"},
    };
    for (const Case& c : cases) {
        CertificateInfo certificate = good;
        c.change(certificate);
        const CertificateFindings findings = judgeSigningCertificate(certificate, now, false);
        std::string problems, warnings;
        for (const std::string& line : findings.problems) problems += line + "\n";
        for (const std::string& line : findings.warnings) warnings += line + "\n";
        EXPECT_TRUE(isProblem(problems, c.problem)) << c.what;
        EXPECT_TRUE(isProblem(warnings, c.warning)) << c.what;
    }
}
