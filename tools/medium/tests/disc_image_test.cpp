// Disc images: the label and autorun.inf rules, how xorriso's report is
// read, and build --iso, check and sign of an image as a user runs them,
// with xorriso as the independent reader of what was written.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "disc_image.h"
#include "file_io.h"
#include "medium_names.h"
#include "medium_test_support.h"

using namespace medium_test;

namespace {

// xorriso's listing of an image's root as Windows reads it (Joliet).
ToolRun listImage(const std::string& image) {
    return runProgram({"xorriso", "-no_rc", "-read_fs", "norock", "-indev", image, "-toc", "-lsl", "/"});
}

// One file of an image, copied out by xorriso.
std::string fileInImage(const std::string& image, const std::string& name, const std::string& scratch) {
    const std::string out = scratch + "/copied-" + name;
    std::remove(out.c_str());
    runProgram(
        {"xorriso", "-no_rc", "-read_fs", "norock", "-osirrox", "on", "-indev", image, "-extract", "/" + name, out});
    return readFile(out);
}

}  // namespace

TEST(DiscLabels, AreCheckedAndMadeFromTheImagesName) {
    struct Case {
        const char* label;
        const char* problem;  // "" when fine
    } cases[] = {
        {"KESTRUNE", ""},
        {"Demo 1.0", ""},
        {"a_b-c.d", ""},
        {"sixteen-chars-ok", ""},
        {"", "must not be empty"},
        {"seventeen-chars-x", "at most 16 characters"},
        {"semi;colon", "only letters, digits"},
        {"caf\xc3\xa9", "only letters, digits"},
        {" lead", "must not start or end with a blank"},
    };
    for (const Case& c : cases) EXPECT_TRUE(isProblem(discLabelProblem(c.label), c.problem)) << c.label;
    const std::pair<const char*, const char*> defaults[] = {
        {"out/disc.iso", "disc"}, {"Product 2.ISO", "Product_2"},
        {"/tmp/a.b.iso", "a.b"},  {"very-long-name-of-a-disc.iso", "very-long-name-o"},
        {".iso", ".iso"},         {"caf\xc3\xa9.iso", "caf__"},
    };
    for (const auto& [path, label] : defaults) {
        EXPECT_EQ(defaultDiscLabel(path), label) << path;
        EXPECT_EQ(discLabelProblem(defaultDiscLabel(path)), "") << path;
    }
}

TEST(Autorun, NamesSetupExeAsWindowsReadsIt) {
    EXPECT_EQ(autorunText("Demo 1.0"), "[autorun]\r\nopen=setup.exe\r\nlabel=Demo 1.0\r\n");
    struct Case {
        std::string text;
        const char* problem;  // "" when it starts setup.exe
    } cases[] = {
        {autorunText("X"), ""},
        {"[AutoRun]\nOPEN = SETUP.EXE\n", ""},
        {"; made by hand\r\n[autorun]\r\nicon=setup.exe\r\nopen=setup.exe\r\n", ""},
        {"[autorun]\r\nopen=install.exe\r\n", "its open= names 'install.exe', not setup.exe"},
        {"[other]\r\nopen=setup.exe\r\n", "no [autorun] section"},
        {"[autorun]\r\nlabel=X\r\n", "has no open="},
        {"", "no [autorun] section"},
    };
    for (const Case& c : cases) EXPECT_TRUE(isProblem(autorunProblem(c.text), c.problem)) << c.text;
}

TEST(DiscImages, XorrisosReportIsRead) {
    const std::string report =
        "Drive current: -indev 'disc.iso'\n"
        "Volume Id    : Demo 1.0\n"
        "ISO offers   : Rock_Ridge Joliet\n"
        "ISO loaded   : Joliet\n"
        "total 3\n"
        "-r-xr-xr-x    1 0        0              42 Dec  8 23:40 'setup.exe'\n"
        "dr-xr-xr-x    1 0        0               0 Dec  8 23:40 'docs'\n"
        "-r-xr-xr-x    1 0        0               4 Dec  8 23:40 'it'\"'\"'s.txt'\n"
        "-r-xr-xr-x    1 0        0               4 Dec  8 23:40 'autorun.inf'\n";
    const DiscListing listing = readDiscReport(report);
    EXPECT_EQ(listing.label, "Demo 1.0");
    EXPECT_TRUE(listing.joliet);
    EXPECT_EQ(listing.files, (std::vector<std::string>{"autorun.inf", "it's.txt", "setup.exe"}));
    EXPECT_EQ(listing.folders, std::vector<std::string>{"docs"});
    EXPECT_FALSE(readDiscReport("ISO loaded   : \nVolume Id    : \n").joliet);
}

// build --iso, then what xorriso finds in the image, then check of it.
TEST(DiscImages, BuildWritesAnImageThatXorrisoAndCheckRead) {
    Workspace w;
    const std::string image = w.scratch / "disc.iso";
    const ToolRun built = runTool({"build", w.payload, "--iso", image, "--label", "Demo 1.0", "--launcher", w.launcher,
                                   "--extractor", w.extractor, "--marker", "msi.tag"});
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_TRUE(holds(built.out, "disc image: '" + image + "', "));
    EXPECT_TRUE(holds(built.out, "ISO 9660 with Joliet names, labelled 'Demo 1.0'"));
    EXPECT_FALSE(exists(w.medium));
    EXPECT_EQ(listDirectory(w.scratch.path),
              (std::vector<std::string>{"disc.iso", "extractor.exe", "launcher.exe", "library.dll", "notes.txt",
                                        "other-password.exe", "payload"}));

    const ToolRun listed = listImage(image);
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_TRUE(holds(listed.out, "ISO loaded   : Joliet"));
    for (const char* name : mediumFolderNames) {
        EXPECT_NE(listed.out.find(std::string("'") + name + "'"), std::string::npos) << name << "\n" << listed.out;
    }
    EXPECT_EQ(fileInImage(image, "autorun.inf", w.scratch.path), autorunText("Demo 1.0"));
    EXPECT_EQ(fileInImage(image, "setup.exe", w.scratch.path), readFile(w.launcher) + "msi.tag \r\n");
    EXPECT_EQ(fileInImage(image, "unzip.exe", w.scratch.path), readFile(w.extractor));
    writeFile(w.scratch / "copied.zip", fileInImage(image, "package.zip", w.scratch.path));
    EXPECT_EQ(archiveContents(w.scratch / "copied.zip", "Kestrune-Package-2026").size(),
              payloadContents(w.payload).size());

    const ToolRun checked = runTool({"check", image});
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_TRUE(holds(checked.out, "medium: '" + image + "' (a disc image)"));
    EXPECT_TRUE(holds(checked.out,
                      "disc image: ISO 9660, Joliet names, labelled 'Demo 1.0'; at its root: autorun.inf, "
                      "package.zip, setup.exe, unzip.exe"));
    EXPECT_TRUE(holds(checked.out, "markers: msi.tag"));
    EXPECT_TRUE(holds(checked.out, "/qn REBOOT=ReallySuppress ["));
    EXPECT_TRUE(holds(checked.out, "check: no problems found"));
}

TEST(DiscImages, ABuildOfBothHasTheSameFilesAndIsReproducible) {
    Workspace w;
    const std::string image = w.scratch / "disc.iso";
    const std::vector<std::string> epoch = {"SOURCE_DATE_EPOCH=1577872800"};
    ASSERT_EQ(runTool(w.build({"--iso", image}), epoch).status, 0);
    for (const char* name : {launcherFileName, extractorFileName, packageFileName}) {
        EXPECT_EQ(fileInImage(image, name, w.scratch.path), readFile(w.medium + "/" + name)) << name;
    }
    EXPECT_EQ(fileInImage(image, autorunFileName, w.scratch.path), autorunText("disc"));
    EXPECT_FALSE(exists(w.medium + "/" + autorunFileName)) << "the folder stays as build makes it";
    const std::string first = readFile(image);
    sleep(1);
    ASSERT_EQ(runTool(w.build({"--iso", image, "--force"}), epoch).status, 0);
    EXPECT_EQ(readFile(image), first) << "the same payload and epoch give the same image";
}

// Nothing is written, and what stood there is kept, whatever is wrong.
TEST(DiscImages, BadInputIsRefusedAndChangesNothing) {
    Workspace w;
    const std::string s = w.scratch.path;
    const std::string image = s + "/disc.iso";
    ASSERT_EQ(runTool(w.build({"--iso", image})).status, 0);
    // An empty medium folder: --out may fill it, and an image may not go in it.
    removeTree(w.medium);
    makeDirectories(w.medium);
    symlink("disc.iso", (s + "/link.iso").c_str());
    const std::string payloadImage = w.payload + "/disc.iso";
    const RefusedRun cases[] = {
        {w.build({"--iso", image}), {}, 1, "disc image '" + image + "' exists; give --force to replace it"},
        {w.build({"--iso", s + "/notes.txt", "--force"}),
         {},
         1,
         "exists and is no disc image; --force replaces only a disc image"},
        {w.build({"--iso", s + "/link.iso", "--force"}), {}, 1, "is a symbolic link"},
        {w.build({"--iso", payloadImage}), {}, 1, "lies in the payload"},
        {w.build({"--iso", w.medium + "/disc.iso"}), {}, 1, "lies in the medium folder"},
        {w.build({"--iso", s + "/absent/disc.iso"}), {}, 1, "does not exist"},
        {w.build({"--iso", s + "/new.iso", "--label", "semi;colon"}), {}, 2, "--label 'semi;colon': a disc label"},
        {w.build({"--label", "X"}), {}, 2, "--label names the disc that --iso writes"},
        {{"build", w.payload, "--launcher", w.launcher}, {}, 2, "or --iso FILE"},
        {w.build({"--iso", s + "/new.iso"}),
         {"PATH=" + s + "/no-programs"},
         1,
         "xorriso is not installed or not on PATH"},
    };
    const std::vector<std::string> before = treeOf(s);
    for (const RefusedRun& c : cases) {
        expectRefused(c);
        EXPECT_EQ(treeOf(s), before) << c.message;
    }
    EXPECT_EQ(runTool(w.build({"--iso", image, "--force", "--label", "Second"})).status, 0);
    EXPECT_NE(listImage(image).out.find("Second"), std::string::npos);
}

// check finds what is wrong with an image made by other means.
TEST(DiscImages, CheckReportsWhatAnImageLacks) {
    Workspace w;
    ASSERT_EQ(runTool(w.build()).status, 0);
    const std::string image = w.scratch / "other.iso";
    writeFile(w.scratch / "autorun.inf", "[autorun]\r\nopen=install.exe\r\n");
    const ToolRun made = runProgram({"xorriso", "-no_rc", "-outdev", image, "-joliet", "on", "-map",
                                     w.medium + "/setup.exe", "/setup.exe", "-map", w.medium + "/package.zip",
                                     "/package.zip", "-map", w.scratch / "autorun.inf", "/autorun.inf", "-commit"});
    ASSERT_EQ(made.status, 0) << made.err;
    const ToolRun checked = runTool({"check", image});
    EXPECT_EQ(checked.status, 1) << checked.out;
    EXPECT_TRUE(holds(checked.out, "problem: unzip.exe is missing"));
    EXPECT_TRUE(holds(checked.err,
                      "kestrune-medium: warning: autorun.inf does not start setup.exe: its open= names 'install.exe'"));
    EXPECT_EQ(checked.out.find("kestrune-medium-disc-"), std::string::npos) << "lines name the image" << checked.out;
    EXPECT_EQ(runTool({"check", image}, {"PATH=" + w.scratch.path + "/none"}).status, 1);
}

TEST(DiscImages, SignRewritesAnImageThatHoldsAMediumOnly) {
    Workspace w;
    TestSigner signer;
    writeFile(w.launcher, signableLauncher());
    writeFile(w.extractor, peProgram("the extractor"));
    const std::string image = w.scratch / "disc.iso";
    ASSERT_EQ(runTool(w.build({"--iso", image, "--label", "Signed", "--marker", "msi.tag"})).status, 0);
    const ToolRun signedRun = runTool({"sign", image, "--cert", signer.certificate, "--key", signer.key});
    ASSERT_EQ(signedRun.status, 0) << signedRun.err;
    EXPECT_TRUE(holds(signedRun.out, "disc image: '" + image +
                                         "' written again with the signed programs, labelled "
                                         "'Signed'"));
    const ToolRun checked = runTool({"check", image, "--ca-file", signer.certificate});
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_TRUE(holds(checked.out, "setup.exe signature: by /CN=Kestrune Test Publisher"));
    EXPECT_TRUE(holds(checked.out,
                      "markers: msi.tag (every marker line stands in the last 256 bytes, inside the "
                      "signature)"));
    EXPECT_EQ(fileInImage(image, autorunFileName, w.scratch.path), autorunText("Signed"));

    // An image with more than a medium would lose the rest: refused.
    const std::string other = w.scratch / "more.iso";
    ASSERT_EQ(runProgram({"xorriso", "-no_rc", "-outdev", other, "-joliet", "on", "-map", w.launcher, "/setup.exe",
                          "-map", w.extractor, "/unzip.exe", "-map", w.scratch / "notes.txt", "/notes.txt", "-commit"})
                  .status,
              0);
    const std::string before = readFile(other);
    const ToolRun refused = runTool({"sign", other, "--cert", signer.certificate, "--key", signer.key});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(holds(refused.err, "holds 'notes.txt', which is not part of a medium"));
    EXPECT_EQ(readFile(other), before);
    // Its advice names commands that exist.
    const std::vector<std::string> commands = {"build", "mark", "markers", "check", "sign", "help"};
    size_t named = 0;
    for (size_t at = refused.err.find("kestrune-medium "); at != std::string::npos;
         at = refused.err.find("kestrune-medium ", at + 1)) {
        const std::string word = refused.err.substr(at + 16, refused.err.find_first_of(" \n;,)", at + 16) - at - 16);
        EXPECT_NE(std::find(commands.begin(), commands.end(), word), commands.end()) << word << "\n" << refused.err;
        ++named;
    }
    EXPECT_EQ(named, 2u) << refused.err;

    // An image rebuilt over the signed one is unsigned, and said so.
    const ToolRun rebuilt = runTool(w.build({"--iso", image, "--force"}));
    ASSERT_EQ(rebuilt.status, 0) << rebuilt.err;
    EXPECT_TRUE(holds(rebuilt.err, "warning: the disc image '" + image +
                                       "' was signed; in the new one setup.exe and unzip.exe are not: sign it with "
                                       "kestrune-medium sign '" +
                                       image + "' --cert CERT --key KEY"));
    EXPECT_FALSE(holds(rebuilt.err, "the medium folder")) << "the folder was not signed";
}
