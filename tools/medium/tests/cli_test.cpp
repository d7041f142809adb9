// kestrune-medium as a user runs it: bad input, help, build and check of
// whole media, markers, and builds that fail. The output folder has tests
// of its own (output_test.cpp).
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include <gtest/gtest.h>

#include "command_line.h"
#include "default_programs.h"
#include "file_io.h"
#include "medium_test_support.h"
#include "package_password.h"

using namespace medium_test;

namespace {

// Info-ZIP zip, run in `directory`, as a package author would use it.
void infoZip(const std::string& directory, const std::string& archive, const std::string& options) {
    ASSERT_EQ(std::string(KESTRUNE_INFOZIP_ZIP).find("NOTFOUND"), std::string::npos)
        << "Info-ZIP zip is needed (scripts/install-deps.sh installs it)";
    const std::string command = "cd '" + directory + "' && '" + KESTRUNE_INFOZIP_ZIP + "' -q -r " + options + " '" +
                                archive + "' . >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Info-ZIP zip, run in `directory`, packing `names` in this order with the
// package password.
void infoZipNames(const std::string& directory, const std::string& archive, const std::vector<std::string>& names) {
    std::string command =
        "cd '" + directory + "' && '" + KESTRUNE_INFOZIP_ZIP + "' -q -P '" + packagePassword + "' '" + archive + "'";
    for (const std::string& name : names) command += " '" + name + "'";
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

// A medium folder with this workspace's programs and `archive` as its package.
void mediumAround(const Workspace& w, const std::string& archive) {
    makeDirectories(w.medium);
    writeFile(w.medium + "/setup.exe", readFile(w.launcher));
    writeFile(w.medium + "/unzip.exe", readFile(w.extractor));
    writeFile(w.medium + "/package.zip", readFile(archive));
}

}  // namespace

TEST(MediumCommandLine, BadInputIsRefusedWithAReasonAndNoOutput) {
    Workspace w;
    const std::string s = w.scratch.path;
    makeDirectories(s + "/no-setup/docs");
    writeFile(s + "/no-setup/docs/a.txt", "a");
    // Windows finds it in any case, and it must be a program in any case.
    makeDirectories(s + "/lower-case");
    writeFile(s + "/lower-case/setup.exe", "echo not a program");
    makeDirectories(s + "/taken");
    writeFile(s + "/taken/keep.txt", "keep");
    const RefusedRun cases[] = {
        {{}, {}, 2, "usage:"},
        {{"biuld"}, {}, 2, "unknown command 'biuld'; the nearest is build (commands: build, mark"},
        {{"chek", w.medium}, {}, 2, "unknown command 'chek'; the nearest is check"},
        {{"-verison"}, {}, 2, "unknown command '-verison'; the nearest is --version"},
        {{"help", "marks"}, {}, 2, "unknown help topic 'marks'; the nearest command is mark"},
        {{"build", w.payload, "--out", w.medium, "--colour"}, {}, 2, "unknown option --colour\n"},
        {{"build", w.payload, "--iso", s + "/disc.iso", "--lable", "X"},
         {},
         2,
         "unknown option --lable; the nearest is --label"},
        {{"check", w.medium, "-strict"}, {}, 2, "unknown option -strict; the nearest is --strict"},
        {{"--", "build", w.payload, "--", "--out", w.medium}, {}, 2, "build takes one payload folder"},
        {{"build", w.payload, "--out"}, {}, 2, "--out needs a value"},
        {{"build", w.payload}, {}, 2, "needs --out"},
        {{"build", "--out", w.medium}, {}, 2, "needs a payload folder"},
        {{"build", w.payload, s + "/second", "--out", w.medium}, {}, 2, "one payload folder"},
        {{"build", w.payload, "--out", w.medium, "--out", s + "/m2"}, {}, 2, "more than once"},
        {w.build({"--marker", ""}), {}, 2, "non-empty value"},
        {w.build({"--marker", "two\r\nlines"}), {}, 2, "line break"},
        {w.build({"--marker", std::string(201, 't'), "--any-marker"}), {}, 2, "at most 200"},
        {w.build({"--marker", "MSI.TAG"}),
         {},
         2,
         "--marker 'MSI.TAG': not a tag the launcher knows; did you mean msi.tag?"},
        {w.build({"--marker", "msi"}), {}, 2, "did you mean msi.tag?"},
        {w.build({"--marker", "exitcode"}), {}, 2, "did you mean exitcode.tag?"},
        {w.build({"--marker", "exit-code.tag", "--any-marker"}), {}, 2, "did you mean exitcode.tag?"},
        {w.build({"--marker", "msi.tg", "--any-marker"}), {}, 2, "did you mean msi.tag?"},
        {w.build({"--marker", "product=demo"}),
         {},
         2,
         "not a tag the launcher knows (it knows msi.tag, exitcode.tag); give --any-marker"},
        {w.build({"--marker", std::string(150, 'a'), "--marker", std::string(150, 'b'), "--any-marker"}),
         {},
         1,
         "bytes before the end of setup.exe, not within the last 256; the launcher does not see it"},
        {w.build({}, s + "/missing"), {}, 1, "does not exist"},
        {w.build({}, s + "/notes.txt"), {}, 1, "is not a folder"},
        {w.build({}, s + "/no-setup"), {}, 1, "no SETUP.EXE"},
        {w.build({}, s + "/lower-case"), {}, 1, "SETUP.EXE is not a Windows program"},
        {{"build", w.payload, "--out", s + "/taken", "--launcher", w.launcher, "--extractor", w.extractor},
         {},
         1,
         "holds 'keep.txt', which is not part of a medium"},
        {{"build", w.payload, "--out", s + "/notes.txt", "--launcher", w.launcher, "--extractor", w.extractor},
         {},
         1,
         "is not a folder"},
        {{"build", w.payload, "--out", s + "/absent/medium", "--launcher", w.launcher, "--extractor", w.extractor},
         {},
         1,
         "does not exist"},
        {{"build", w.payload, "--out", w.payload, "--force", "--launcher", w.launcher, "--extractor", w.extractor},
         {},
         1,
         "lies in"},
        {{"build", w.payload, "--out", w.payload + "/docs/medium", "--launcher", w.launcher, "--extractor",
          w.extractor},
         {},
         1,
         "lies in"},
        {w.buildUsing(s + "/notes.txt", w.extractor), {}, 1, "not a Windows PE program"},
        {w.buildUsing(s + "/library.dll", w.extractor), {}, 1, "a DLL"},
        {w.buildUsing(s + "/other-password.exe", w.extractor), {}, 1, "does not hold this tool's package password"},
        {w.buildUsing(s + "/missing.exe", w.extractor), {}, 1, "does not exist"},
        {w.buildUsing(w.launcher, s + "/notes.txt"), {}, 1, "not a Windows PE program"},
        {w.buildUsing(w.launcher, s + "/library.dll"), {}, 1, "a DLL"},
        {{"mark", s + "/notes.txt", "msi.tag"}, {}, 1, "not a Windows PE launcher"},
        {{"mark", w.launcher, "Msi.Tag"}, {}, 2, "tag 'Msi.Tag': not a tag the launcher knows; did you mean msi.tag?"},
        {{"mark", w.launcher, "other.tag"}, {}, 2, "give --any-marker"},
        {{"mark", s + "/other-password.exe", "msi.tag"},
         {},
         1,
         "does not hold this tool's package password; it was built with another KESTRUNE_PACKAGE_PASSWORD and "
         "could not open the package; give --any-file to mark it all the same"},
        {{"mark", s + "/missing.exe", "msi.tag"}, {}, 1, "does not exist"},
        {{"mark", w.launcher}, {}, 2, "at least one tag"},
        {{"mark", w.launcher, "msi.tag", "bad\nline", "--any-marker"}, {}, 2, "line break"},
        {{"markers", s + "/notes.txt"}, {}, 1, "not a Windows PE launcher"},
        {{"markers", s + "/missing.exe"}, {}, 1, "does not exist"},
        {{"markers"}, {}, 2, "one launcher file"},
        {{"check", w.medium, "--temp"}, {}, 2, "--temp needs a value"},
        {{"check", w.medium, "--temp", "relative\\temp"}, {}, 2, "not an absolute Windows path"},
        {{"check", w.medium, "--package-dir", "/media/usb"}, {}, 2, "not an absolute Windows path"},
        {{"check", w.medium, "--verbose"}, {}, 2, "unknown option --verbose"},
        {{"check"}, {}, 2, "one medium folder"},
        {{"check", w.medium, "-x"}, {}, 2, "unknown option -x"},
    };
    const std::string launcherBefore = readFile(w.launcher);
    const std::string otherBefore = readFile(s + "/other-password.exe");
    for (const RefusedRun& c : cases) {
        expectRefused(c);
        EXPECT_FALSE(exists(w.medium)) << c.message;
        EXPECT_EQ(stagingLeftovers(s), std::vector<std::string>{}) << c.message;
        EXPECT_EQ(stagingLeftovers(w.payload + "/docs"), std::vector<std::string>{}) << c.message;
    }
    // Only a real near miss gets a suggestion.
    const RefusedRun unsuggested[] = {
        {{"burn"}, {}, 2, "unknown command 'burn' (commands: build, mark, markers, check, sign, help)"},
        {{"-v"}, {}, 2, "unknown command '-v' (commands: "},
        {{"help", "deploy"}, {}, 2, "unknown help topic 'deploy' (commands: "},
        {{"check", w.medium, "-v"}, {}, 2, "unknown option -v\n"},
        {{"mark", w.launcher, "msi.tag", "--verbose"}, {}, 2, "unknown option --verbose\n"},
    };
    for (const RefusedRun& c : unsuggested) {
        const ToolRun run = expectRefused(c);
        EXPECT_FALSE(run.contains("nearest")) << run.err;
    }
    EXPECT_EQ(readFile(s + "/taken/keep.txt"), "keep");
    EXPECT_EQ(readFile(w.launcher), launcherBefore) << "a refused mark changes nothing";
    EXPECT_EQ(readFile(s + "/other-password.exe"), otherBefore) << "a refused mark changes nothing";
}

TEST(MediumCommandLine, HelpForTheToolAndEachCommandAndTheVersion) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--help"}, {"-h"}, {"help"}, {"help", "--help"}}) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 0) << arguments.front();
        for (const char* command :
             {"  build PAYLOAD_DIR", "  mark FILE", "  markers FILE", "  check MEDIUM", "  sign MEDIUM", "  help"}) {
            EXPECT_NE(run.out.find(command), std::string::npos) << arguments.front() << ": " << command;
        }
    }
    const ToolRun bare = runTool({});
    EXPECT_EQ(bare.status, 2);
    EXPECT_NE(bare.err.find("usage: kestrune-medium COMMAND"), std::string::npos);

    // The same help three ways, for every command, and only that command's.
    for (const std::string command : {"build", "mark", "markers", "check", "sign"}) {
        const ToolRun asked = runTool({"help", command});
        EXPECT_EQ(asked.status, 0) << command;
        EXPECT_EQ(asked.out.find("usage: kestrune-medium " + command + " "), 0u) << asked.out;
        for (const char* option : {"--help", "-h"}) {
            const ToolRun run = runTool({command, option});
            EXPECT_EQ(run.status, 0) << command << " " << option;
            EXPECT_EQ(run.out, asked.out) << command << " " << option;
        }
    }
    EXPECT_EQ(runTool({"help", "check"}).out.find("--exclude"), std::string::npos);
    EXPECT_EQ(runTool({"help", "--", "check"}).out, runTool({"help", "check"}).out);

    // Every option a command takes is in its synopsis, in the overview and in
    // a line of its own that says what it does.
    const ToolRun overview = runTool({"help"});
    const std::vector<std::pair<std::string, std::vector<std::string>>> commandOptions = {
        {"build",
         {"--out DIR", "--iso FILE", "--label LABEL", "--launcher", "--extractor", "--marker TAG", "--any-marker",
          "--exclude PATTERN", "--no-default-excludes", "--package-dir WINPATH", "--temp WINPATH", "--force"}},
        {"mark", {"--any-marker", "--any-file"}},
        {"markers", {"--ca-file CERTS"}},
        {"check", {"--package-dir WINPATH", "--temp WINPATH", "--ca-file CERTS", "--strict"}},
        {"sign", {"--cert CERT", "--key KEY", "--pass-file FILE", "--timestamp URL"}},
    };
    for (const auto& [command, options] : commandOptions) {
        const std::string help = runTool({command, "-h"}).out;
        const std::string synopsis = help.substr(0, help.find("\n\n"));
        for (const std::string& option : options) {
            const std::string name = option.substr(0, option.find(' '));
            EXPECT_TRUE(holds(synopsis, option)) << command;
            EXPECT_TRUE(holds(overview.out, option)) << command;
            EXPECT_TRUE(holds(help, "\n  " + option + " ")) << command << ": no line of its own for " << option;
            // And the parser takes it: known, it is no unknown option.
            const ToolRun run = runTool({command, name, "value", "-h"});
            EXPECT_FALSE(run.contains("unknown option")) << command << " " << name << "\n" << run.err;
        }
        EXPECT_TRUE(holds(help, "\n  --help ")) << command;
    }

    const ToolRun version = runTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("kestrune-medium 1.", 0), 0u) << version.out;
}

// Where build takes setup.exe and unzip.exe from without --launcher and
// --extractor: ../share/kestrune/ from the program's folder, and, for the
// program in its build tree only, the build's product.
TEST(MediumDefaults, InstalledBesideTheProgramOrTheBuildTreesProduct) {
    ScratchDirectory scratch;
    const std::string s = resolvedPath(scratch.path);
    const DefaultLayout layout = {"../share/kestrune", s + "/build/host", s + "/build/win32/setup.exe",
                                  s + "/build/win32/tools/unzip/unzip.exe"};
    makeDirectories(s + "/build/host");
    makeDirectories(s + "/prefix/bin");
    const std::string installed = s + "/prefix/share/kestrune/setup.exe";
    const std::string built = layout.buildLauncher;
    const struct {
        const char* what;
        std::string programFolder;
        std::vector<std::string> present;  // of `installed` and `built`
        std::string found;                 // "" for none
        std::vector<std::string> named;    // in the problem, when none is found
    } cases[] = {
        {"installed beside the program", s + "/prefix/bin", {installed, built}, installed, {}},
        {"a copy elsewhere never takes a build tree's", s + "/prefix/bin", {built}, "", {installed}},
        {"the build tree's program takes the build's", s + "/build/host", {built}, built, {}},
        {"the build tree's program takes an installed one first",
         s + "/build/host",
         {s + "/build/share/kestrune/setup.exe", built},
         s + "/build/share/kestrune/setup.exe",
         {}},
        {"the build tree's program, without either",
         s + "/build/host",
         {},
         "",
         {s + "/build/share/kestrune/setup.exe", built, "scripts/build.sh", "--launcher"}},
        {"a folder is no program", s + "/prefix/bin", {installed + "/"}, "", {installed, "install kestrune again"}},
    };
    for (const auto& row : cases) {
        for (const std::string& path : {installed, built, s + "/build/share/kestrune/setup.exe"}) removeTree(path);
        for (const std::string& path : row.present) {
            if (path.back() == '/') {
                makeDirectories(path);
            } else {
                makeDirectories(path.substr(0, path.rfind('/')));
                writeFile(path, "MZ");
            }
        }
        const DefaultProgram found = findDefaultProgram(row.programFolder, layout, true);
        EXPECT_EQ(found.path, row.found) << row.what;
        EXPECT_EQ(found.problem.empty(), !row.found.empty()) << row.what << ": " << found.problem;
        for (const std::string& part : row.named) EXPECT_TRUE(holds(found.problem, part)) << row.what;
        if (row.named.size() == 1) {
            EXPECT_EQ(countOf(found.problem, "'"), 2u) << row.what << ": one place looked at";
        }
    }
    // The extraction tool's places are the build's unzip.exe and unzip.exe beside setup.exe.
    removeTree(s + "/prefix/share");
    const DefaultProgram extractor = findDefaultProgram(s + "/build/host", layout, false);
    EXPECT_TRUE(holds(extractor.problem, "none at '" + s +
                                             "/build/share/kestrune/unzip.exe' (installed beside "
                                             "kestrune-medium) nor at '" +
                                             layout.buildExtractor + "'"));
    EXPECT_TRUE(holds(extractor.problem, "--extractor"));
}

// The program as installed anywhere: a copy in PREFIX/bin finds the
// programs in PREFIX/share/kestrune/ (as cmake --install lays them out),
// also when started through a link;
// without them, build names where it looked. The program in its build tree
// names the build's product.
TEST(MediumDefaults, AnInstalledCopyUsesItsOwnTree) {
    Workspace w;
    const std::string prefix = resolvedPath(w.scratch.path) + "/prefix";
    makeDirectories(prefix + "/bin");
    makeDirectories(prefix + "/bin/" + KESTRUNE_INSTALLED_FOLDER);
    const std::string shared = resolvedPath(prefix + "/bin/" + KESTRUNE_INSTALLED_FOLDER);  // PREFIX/share/kestrune
    const std::string tool = prefix + "/bin/kestrune-medium";
    writeFile(tool, readFile(KESTRUNE_MEDIUM_EXE));
    ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
    writeFile(shared + "/setup.exe", readFile(w.launcher));
    writeFile(shared + "/unzip.exe", readFile(w.extractor));
    makeDirectories(w.scratch / "links");
    const std::string link = w.scratch / "links/kestrune-medium";
    ASSERT_EQ(symlink(tool.c_str(), link.c_str()), 0);

    for (const std::string& program : {tool, link}) {
        const ToolRun version = runProgram({program, "--version"});
        EXPECT_EQ(version.status, 0) << program;
        EXPECT_TRUE(holds(version.out, "\ndefault setup.exe: '" + shared + "/setup.exe'\ndefault unzip.exe: '" +
                                           shared + "/unzip.exe'\n"))
            << program;
    }
    const ToolRun built = runProgram({link, "build", w.payload, "--out", w.medium, "--marker", "msi.tag"});
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_TRUE(holds(built.out, "setup.exe: from '" + shared + "/setup.exe'"));
    EXPECT_EQ(readFile(w.medium + "/setup.exe"), readFile(w.launcher) + "msi.tag \r\n");
    EXPECT_EQ(readFile(w.medium + "/unzip.exe"), readFile(w.extractor));
    // --launcher and --extractor still name others.
    const ToolRun named = runProgram(
        {tool, "build", w.payload, "--out", w.scratch / "named", "--launcher", w.launcher, "--extractor", w.extractor});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(holds(named.out, "unzip.exe: from " + ::quoted(w.extractor)));

    removeTree(shared + "/unzip.exe");
    const ToolRun missing = runProgram({tool, "build", w.payload, "--out", w.scratch / "none"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(holds(missing.err, "error: no default unzip.exe: none at '" + shared +
                                       "/unzip.exe' (installed beside kestrune-medium); install kestrune again, or "
                                       "give --extractor"));
    EXPECT_FALSE(exists(w.scratch / "none"));
    EXPECT_TRUE(holds(runProgram({tool, "--version"}).out, "default unzip.exe: none at '" + shared + "/unzip.exe'"));

    // The program in its build tree: the build's product, or both places named.
    const ToolRun inTree = runTool({"--version"});
    for (const std::string& product : {std::string(KESTRUNE_BUILD_LAUNCHER), std::string(KESTRUNE_BUILD_EXTRACTOR)}) {
        const std::string name = product.substr(product.rfind('/') + 1);
        EXPECT_TRUE(holds(inTree.out, exists(product)
                                          ? "default " + name + ": " + ::quoted(product)
                                          : "nor at " + ::quoted(product) + " (this build tree's product)"));
    }
}

TEST(MediumBuild, BuildThenCheckRoundTrip) {
    Workspace w;
    writeFile(w.payload + "/docs/data.bin", incompressibleBytes(200 * 1024));
    const ToolRun built = runTool(w.build({"--marker", "msi.tag", "--marker", "product=demo", "--any-marker"}));
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_EQ(listDirectory(w.medium), (std::vector<std::string>{"package.zip", "setup.exe", "unzip.exe"}));
    EXPECT_EQ(readFile(w.medium + "/setup.exe"), readFile(w.launcher) + "msi.tag \r\nproduct=demo \r\n");
    EXPECT_EQ(readFile(w.medium + "/unzip.exe"), readFile(w.extractor));
    EXPECT_EQ(archiveContents(w.medium + "/package.zip", packagePassword), payloadContents(w.payload));
    EXPECT_EQ(stagingLeftovers(w.scratch.path), std::vector<std::string>{});
    // package.zip's own size against what it unpacks to: the data does not shrink.
    const std::string packed = "package.zip: " + std::to_string(readFile(w.medium + "/package.zip").size() / 1024);
    EXPECT_TRUE(holds(built.out, packed));
    EXPECT_TRUE(holds(built.out, "% of the 200.1 KiB unpacked; 6 entries (4 files, 2 folders)"));

    const ToolRun checked = w.check();
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_EQ(countOf(checked.out, "problem:"), 0u) << checked.out;
    EXPECT_TRUE(holds(checked.out, packed));
    EXPECT_TRUE(holds(checked.out,
                      "% of the 200.1 KiB unpacked; 6 entries (4 files, 2 folders); 4 of 4 encrypted entries "
                      "open with the package password"));
    EXPECT_TRUE(holds(checked.out, "markers: msi.tag, product=demo"));
    EXPECT_TRUE(holds(checked.out, "PostProcess.cmd: present"));
    EXPECT_TRUE(holds(checked.out,
                      "\"C:\\Users\\Default\\AppData\\Local\\Temp\\KESTRUNE\\SETUP.EXE\" /qn REBOOT=ReallySuppress"));
    EXPECT_EQ(checked.out.find(packagePassword), std::string::npos) << "the password is never shown";

    const ToolRun markers = runTool({"markers", w.medium + "/setup.exe"});
    EXPECT_EQ(markers.status, 0);
    EXPECT_TRUE(holds(markers.out, "marker: msi.tag\nmarker: product=demo (not a tag the launcher acts on)\n"));
    EXPECT_TRUE(holds(markers.out, "msi.tag: seen by the launcher"));
    EXPECT_TRUE(holds(markers.out, "exitcode.tag: not seen by the launcher; every run ends with exit code 1"));

    // The exit-code tag is marked like any known tag, and markers says what it does.
    ASSERT_EQ(runTool({"mark", w.medium + "/setup.exe", "exitcode.tag"}).status, 0);
    EXPECT_TRUE(holds(runTool({"markers", w.medium + "/setup.exe"}).out,
                      "exitcode.tag: seen by the launcher; the run's exit code is the installer's own"));
}

// Real payload folders are years old: a folder's entry must open all the same.
TEST(MediumBuild, AMediumFromOldFoldersPassesCheckAndBothExtractionTools) {
    Workspace w;
    for (const char* folder : {"/docs", "/docs/empty"}) {
        const timespec times[2] = {{1577872800, 0}, {1577872800, 0}};  // 2020-01-01 10:00 UTC
        ASSERT_EQ(utimensat(AT_FDCWD, (w.payload + folder).c_str(), times, 0), 0);
    }
    ASSERT_EQ(runTool(w.build()).status, 0);
    const ToolRun checked = w.check();
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_TRUE(holds(checked.out, "check: no problems found"));

    const std::string archive = w.medium + "/package.zip";
    const ToolRun ours = runProgram({KESTRUNE_UNZIP_EXE, "-P", packagePassword, archive, "-d", w.scratch / "ours"});
    EXPECT_EQ(ours.status, 0) << ours.err;
    EXPECT_EQ(payloadContents(w.scratch / "ours"), payloadContents(w.payload));
    EXPECT_TRUE(exists(w.scratch / "ours/docs/empty"));

    const ToolRun infoZip = runProgram({"unzip", "-t", "-P", packagePassword, archive});
    EXPECT_EQ(infoZip.status, 0) << infoZip.out << infoZip.err;
    EXPECT_TRUE(holds(infoZip.out, "No errors detected"));
}

TEST(MediumBuild, TheSamePayloadAndSourceDateEpochGiveTheSamePackage) {
    Workspace w;
    writeFile(w.payload + "/docs/data.bin", incompressibleBytes(64 * 1024));
    const std::vector<std::string> epoch = {"SOURCE_DATE_EPOCH=1577872800"};
    const ToolRun first = runTool(w.build(), epoch);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_TRUE(holds(first.out, "times: none later than SOURCE_DATE_EPOCH 1577872800, in UTC"));
    const std::string firstBytes = readFile(w.medium + "/package.zip");

    // Touched since, and built again in another time zone.
    for (const std::string& content : payloadContents(w.payload)) {
        const std::string path = w.payload + "/" + content.substr(0, content.find('='));
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), nullptr, 0), 0) << path;
    }
    const ToolRun second = runTool(w.build({"--force"}), {epoch[0], "TZ=America/New_York"});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(readFile(w.medium + "/package.zip"), firstBytes);

    const ToolRun unclamped = runTool(w.build({"--force"}));
    ASSERT_EQ(unclamped.status, 0) << unclamped.err;
    EXPECT_NE(readFile(w.medium + "/package.zip"), firstBytes) << "without the epoch the files' own times count";

    const ToolRun bad = runTool(w.build({"--force"}), {"SOURCE_DATE_EPOCH=yesterday"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(holds(bad.err, "SOURCE_DATE_EPOCH 'yesterday' is not a number of seconds"));
}

TEST(MediumBuild, AFailedBuildLeavesNeitherMediumNorTemporaryFolder) {
    struct Case {
        const char* what;
        bool existingMedium;
    } cases[] = {{"no medium yet", false}, {"replacing a medium", true}};
    for (const Case& c : cases) {
        Workspace w;
        if (c.existingMedium) {
            ASSERT_EQ(runTool(w.build()).status, 0);
        }
        const std::string before = c.existingMedium ? readFile(w.medium + "/package.zip") : "";
        // Writing package.zip fails part way (EFBIG), as on a full disk:
        // a file size limit of 64 KiB, with SIGXFSZ ignored so that the
        // write returns an error rather than end the tool.
        writeFile(w.payload + "/docs/data.bin", incompressibleBytes(200 * 1024));
        std::vector<std::string> command = {"bash", "-c", "ulimit -f 64 && trap '' XFSZ && exec \"$0\" \"$@\"",
                                            KESTRUNE_MEDIUM_EXE};
        const std::vector<std::string> arguments = w.build({"--force"});
        command.insert(command.end(), arguments.begin(), arguments.end());
        const ToolRun run = runProgram(command);
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_NE(run.err.find("no medium was made: cannot write"), std::string::npos) << c.what << run.err;
        EXPECT_NE(run.err.find("package.zip': File too large"), std::string::npos) << c.what << run.err;
        EXPECT_EQ(stagingLeftovers(w.scratch.path), std::vector<std::string>{}) << c.what;
        EXPECT_EQ(exists(w.medium), c.existingMedium) << c.what;
        if (c.existingMedium) {
            EXPECT_EQ(readFile(w.medium + "/package.zip"), before) << c.what;
        }
    }
}

TEST(MediumBuild, ProgressGoesToATerminalOnly) {
    Workspace w;
    writeFile(w.payload + "/docs/data.bin", incompressibleBytes(4 * 1024 * 1024));
    // On a pipe: nothing but the summary, which goes to stdout.
    const std::string viaPipe = w.scratch / "pipe.txt";
    std::string command = "'" + std::string(KESTRUNE_MEDIUM_EXE) + "'";
    for (const std::string& argument : w.build()) command += " '" + argument + "'";
    ASSERT_EQ(std::system((command + " 2>&1 >/dev/null | cat > '" + viaPipe + "'").c_str()), 0);
    EXPECT_EQ(readFile(viaPipe), "");

    // On a terminal: the progress line, files and bytes.
    std::vector<std::string> arguments = w.build({"--force"});
    arguments.insert(arguments.begin(), KESTRUNE_MEDIUM_EXE);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string shown;
    char buffer[4096];
    for (ssize_t got; (got = read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, static_cast<size_t>(got));
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
    EXPECT_TRUE(holds(shown, "packing: 4/4 files"));
    EXPECT_TRUE(holds(shown, " of 4.0 MiB"));
}

TEST(MediumCheck, FindsTheProblemsOfBrokenMedia) {
    struct Case {
        const char* what;
        void (*spoil)(const Workspace& w);
        std::vector<std::string> options;
        std::vector<const char*> problems;  // each must be reported
    } cases[] = {
        {"an archive with another password",
         [](const Workspace& w) {
             std::remove((w.medium + "/package.zip").c_str());
             infoZip(w.payload, w.medium + "/package.zip", "-P wrong");
         },
         {},
         // One wrong password in 256 passes the cipher's check byte and is
         // caught by the CRC instead, so only the entry is named here.
         {"'SETUP.EXE': ", "'docs/readme.txt': "}},
        {"an archive without SETUP.EXE",
         [](const Workspace& w) {
             std::remove((w.medium + "/package.zip").c_str());
             std::remove((w.payload + "/SETUP.EXE").c_str());
             infoZip(w.payload, w.medium + "/package.zip", std::string("-P ") + packagePassword);
         },
         {},
         {"no SETUP.EXE at the root of package.zip"}},
        {"an archive that is not encrypted",
         [](const Workspace& w) {
             std::remove((w.medium + "/package.zip").c_str());
             infoZip(w.payload, w.medium + "/package.zip", "");
         },
         {},
         {"'SETUP.EXE': not encrypted"}},
        {"a temporary path too long for the work directory",
         [](const Workspace&) {},
         {"--temp", "C:\\" + std::string(250, 't') + "\\"},
         {"the work directory"}},
        {"a package directory too long for the extraction command",
         [](const Workspace&) {},
         {"--package-dir", "E:\\" + std::string(130, 'p')},
         {"the extraction command does not fit in 259 characters"}},
        {"a missing extractor",
         [](const Workspace& w) { std::remove((w.medium + "/unzip.exe").c_str()); },
         {},
         {"unzip.exe is missing"}},
        {"a launcher with another password",
         [](const Workspace& w) { writeFile(w.medium + "/setup.exe", readFile(w.scratch / "other-password.exe")); },
         {},
         {"does not hold this tool's package password"}},
        {"a marker pushed out of the window by a signature",
         [](const Workspace& w) {
             writeFile(w.medium + "/setup.exe", readFile(w.medium + "/setup.exe") + std::string(400, '\x82'));
         },
         {},
         {"marker 'msi.tag' starts 410 bytes before the end of setup.exe"}},
    };
    for (const Case& c : cases) {
        Workspace w;
        ASSERT_EQ(runTool(w.build({"--marker", "msi.tag"})).status, 0) << c.what;
        c.spoil(w);
        const ToolRun run = w.check(c.options);
        EXPECT_EQ(run.status, 1) << c.what << "\n" << run.out;
        for (const char* problem : c.problems) {
            EXPECT_TRUE(hasLine(run.out, "problem: ", problem)) << c.what << ": " << problem << "\n" << run.out;
        }
        EXPECT_NE(run.out.find("check: "), std::string::npos) << c.what;
        EXPECT_EQ(run.out.find(packagePassword), std::string::npos) << c.what;
    }
}

TEST(MediumCheck, TheSilentFormAndTheExitCodesFollowTheMarkersOfSetupExe) {
    const char* const plain = "exit codes: every run ends with exit code 1";
    const char* const installers = "exit codes: the run's exit code is the installer's own, 1603 when";
    struct Case {
        std::string appended;  // to setup.exe after the build, as an editor or signer would
        const char* form;
        const char* exitCodes;
        const char* problem;  // nullptr: none
    } cases[] = {
        {"", "-s -SMS", plain, nullptr},
        {"other.tag \r\n", "-s -SMS", plain, nullptr},
        {"msi.tag \r\n", "/qn REBOOT=ReallySuppress", plain, nullptr},
        {"msi.tag \r\n" + std::string(300, '\x82'), "-s -SMS", plain,
         "marker 'msi.tag' starts 310 bytes before the end"},
        {"MSI.TAG \r\n", "-s -SMS", plain,
         "marker 'MSI.TAG' is not msi.tag: the launcher compares tags exactly, case "
         "included; did you mean msi.tag?"},
        {"msi \r\n", "-s -SMS", plain, "marker 'msi' is not msi.tag"},
        {"exitcode.tag \r\n", "-s -SMS", installers, nullptr},
        {"exitcode.tag \r\nmsi.tag \r\n", "/qn REBOOT=ReallySuppress", installers, nullptr},
        {"msi.tag \r\nexitcode.tag \r\n", "/qn REBOOT=ReallySuppress", installers, nullptr},
        {"exitcode.tag \r\n" + std::string(300, '\x82'), "-s -SMS", plain,
         "marker 'exitcode.tag' starts 315 bytes before the end"},
        {"ExitCode.tag \r\n", "-s -SMS", plain, "marker 'ExitCode.tag' is not exitcode.tag"},
    };
    for (const Case& c : cases) {
        Workspace w;
        ASSERT_EQ(runTool(w.build()).status, 0);
        writeFile(w.medium + "/setup.exe", readFile(w.medium + "/setup.exe") + c.appended);
        const ToolRun run = w.check();
        EXPECT_NE(run.out.find(std::string("KESTRUNE\\SETUP.EXE\" ") + c.form + " ["), std::string::npos)
            << c.form << "\n"
            << run.out;
        EXPECT_TRUE(holds(run.out, c.exitCodes)) << c.appended << "\n" << run.out;
        EXPECT_EQ(run.status, c.problem == nullptr ? 0 : 1) << run.out;
        if (c.problem != nullptr) {
            EXPECT_TRUE(hasLine(run.out, "problem: ", c.problem)) << run.out;
        }
    }
    // Beside the tag itself, a near miss is only a warning.
    Workspace w;
    ASSERT_EQ(runTool(w.build({"--marker", "msi.tag"})).status, 0);
    writeFile(w.medium + "/setup.exe", readFile(w.medium + "/setup.exe") + "MSI.TAG \r\n");
    const ToolRun run = w.check();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(holds(run.err,
                      "kestrune-medium: warning: marker 'MSI.TAG' is not msi.tag: the launcher compares tags "
                      "exactly, case included, and finds msi.tag in another line"));
}

TEST(MediumMarkers, EachTagIsWrittenOnceAndOnlyToALauncherOfThisBuild) {
    Workspace w;
    const std::string marked = w.scratch / "marked.exe";
    writeFile(marked, readFile(w.launcher));
    const ToolRun first = runTool({"mark", marked, "msi.tag", "msi.tag"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(readFile(marked), readFile(w.launcher) + "msi.tag \r\n");
    const ToolRun again = runTool({"mark", marked, "msi.tag"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(holds(again.out, "already marked with msi.tag; not appended again"));
    EXPECT_EQ(readFile(marked), readFile(w.launcher) + "msi.tag \r\n");

    // A launcher built with another password is marked only when asked for.
    const std::string other = w.scratch / "other-password.exe";
    const std::string otherBefore = readFile(other);
    EXPECT_EQ(runTool({"mark", other, "msi.tag"}).status, 1);
    EXPECT_EQ(readFile(other), otherBefore);
    EXPECT_EQ(runTool({"mark", other, "msi.tag", "--any-file"}).status, 0);
    EXPECT_EQ(readFile(other), otherBefore + "msi.tag \r\n");

    // build: a tag given twice, or already in the launcher, is written once.
    const ToolRun twice = runTool(w.build({"--marker", "msi.tag", "--marker", "msi.tag"}));
    ASSERT_EQ(twice.status, 0) << twice.err;
    EXPECT_EQ(readFile(w.medium + "/setup.exe"), readFile(w.launcher) + "msi.tag \r\n");
    const ToolRun fromMarked = runTool({"build", w.payload, "--out", w.scratch / "again", "--launcher", marked,
                                        "--extractor", w.extractor, "--marker", "msi.tag"});
    ASSERT_EQ(fromMarked.status, 0) << fromMarked.err;
    EXPECT_EQ(readFile(w.scratch / "again/setup.exe"), readFile(marked));
    EXPECT_TRUE(holds(fromMarked.out, "markers: msi.tag already there"));
}

TEST(MediumMarkers, ReportsLinesInsideStraddlingAndOutsideTheWindow) {
    Workspace w;
    // "--" ends the options: a tag may start with a dash.
    const std::string dashed = w.scratch / "dashed.exe";
    writeFile(dashed, readFile(w.launcher));
    ASSERT_EQ(runTool({"mark", dashed, "--any-marker", "--", "-dash.tag", "msi.tag"}).status, 0);
    EXPECT_EQ(readFile(dashed), readFile(w.launcher) + "-dash.tag \r\nmsi.tag \r\n");

    // A line pushed out of the window by data appended after it, as a
    // signature would be.
    const std::string marked = w.scratch / "marked.exe";
    writeFile(marked,
              readFile(w.launcher) + "outside.tag \r\n" + std::string(300, '\x82') + "-dash.tag \r\nmsi.tag \r\n");
    const ToolRun run = runTool({"markers", marked});
    // A line the launcher does not see is a problem, as check says.
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(holds(run.out, "problem: marker 'outside.tag' starts"));
    EXPECT_TRUE(holds(run.out, "outside the window: outside.tag, " + std::to_string(300 + 14 + 12 + 10) +
                                   " bytes before the end of the file; the launcher does not see it"));
    EXPECT_TRUE(holds(run.out, "marker: -dash.tag (not a tag the launcher acts on)\nmarker: msi.tag\n"));
    EXPECT_TRUE(holds(run.out, "msi.tag: seen by the launcher"));

    const std::string crowded = w.scratch / "crowded.exe";
    writeFile(crowded, readFile(w.launcher) + std::string(150, 'a') + " \r\n" + std::string(150, 'b') + " \r\n");
    const ToolRun listed = runTool({"markers", crowded});
    EXPECT_TRUE(holds(listed.out, "partly outside the window: " + std::string(150, 'a')));
}

// mark writes nothing that would leave a marker line out of the launcher's
// sight, as build refuses to: the same rule, the same lines.
TEST(MediumMarkers, MarkRefusesWhatBuildRefusesAndWritesNothing) {
    std::vector<std::string> forty;
    for (int i = 1; i <= 40; ++i) forty.push_back("tag" + std::to_string(i) + ".tag");
    struct Case {
        const char* what;
        std::string launcherEnd;  // after the launcher's bytes
        std::vector<std::string> tags;
        std::vector<std::string> problems;  // each in an error line of mark and of build
    } cases[] = {
        {"forty tags after msi.tag",
         "msi.tag \r\n",
         forty,
         {"marker 'msi.tag' starts 481 bytes before the end of setup.exe, not within the last 256; the launcher "
          "does not see it",
          "marker 'tag1.tag' starts 471 bytes before the end"}},
        {"two long tags",
         "",
         {std::string(150, 'a'), std::string(150, 'b')},
         {"marker '" + std::string(150, 'a') + "' starts 306 bytes before the end"}},
        {"a line already out of sight",
         "outside.tag \r\n" + std::string(300, '\x82'),
         {"msi.tag"},
         {"marker 'outside.tag' starts 324 bytes before the end"}},
    };
    for (const Case& c : cases) {
        Workspace w;
        const std::string launcher = w.scratch / "marked.exe";
        writeFile(launcher, readFile(w.launcher) + c.launcherEnd);
        const std::string before = readFile(launcher);
        std::vector<std::string> mark = {"mark", launcher, "--any-marker"};
        mark.insert(mark.end(), c.tags.begin(), c.tags.end());
        const ToolRun marked = runTool(mark);
        EXPECT_EQ(marked.status, 1) << c.what << "\n" << marked.err;
        EXPECT_EQ(readFile(launcher), before) << c.what << ": nothing is written";
        EXPECT_TRUE(holds(marked.err, "no marker line was written to '" + launcher + "'")) << c.what;
        EXPECT_FALSE(holds(marked.out, "marked with")) << c.what;

        std::vector<std::string> build = {"build",  w.payload,     "--out",     w.medium,      "--launcher",
                                          launcher, "--extractor", w.extractor, "--any-marker"};
        for (const std::string& tag : c.tags) build.insert(build.end(), {"--marker", tag});
        const ToolRun built = runTool(build);
        EXPECT_EQ(built.status, 1) << c.what << "\n" << built.err;
        EXPECT_FALSE(exists(w.medium)) << c.what;
        for (const std::string& problem : c.problems) {
            EXPECT_TRUE(hasLine(marked.err, "kestrune-medium: error: " + problem, "")) << c.what << "\n" << marked.err;
            EXPECT_TRUE(hasLine(built.err, "kestrune-medium: error: " + problem, "")) << c.what << "\n" << built.err;
        }
    }
}

namespace {

// The "'NAME': reason" part of every line of `text` that starts with `start`.
std::vector<std::string> linesAfter(const std::string& text, const std::string& start) {
    std::vector<std::string> found;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(start, 0) == 0) found.push_back(line.substr(start.size()));
    }
    return found;
}

// The error lines of a build of the workspace that was refused and made
// nothing.
std::vector<std::string> refusedBuild(const Workspace& w, const ToolRun& built) {
    EXPECT_EQ(built.status, 1) << built.err;
    EXPECT_FALSE(exists(w.medium));
    EXPECT_EQ(stagingLeftovers(w.scratch.path), std::vector<std::string>{});
    return linesAfter(built.err, "kestrune-medium: error: ");
}

std::vector<std::string> refusedBuild(const Workspace& w) { return refusedBuild(w, runTool(w.build())); }

bool anyHolds(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

// Every name and path problem in one run, and the same ones check finds in
// a package made by another tool from the same files.
TEST(MediumBuild, RefusesWhatCheckWouldReportListingEveryProblemAtOnce) {
    Workspace w;
    const std::string longName = std::string(215, 'n');  // 44 + 1 + 215 = 260 with the default --temp
    for (const std::string& name :
         {std::string("a?.txt"), std::string("b*.txt"), std::string("con.txt"), std::string("end."),
          std::string("docs/README.TXT"), longName, std::string("caf\xc3\xa9.txt")}) {
        writeFile(w.payload + "/" + name, "x");
    }
    const ToolRun built = runTool(w.build());
    const std::vector<std::string> refused = refusedBuild(w, built);
    const std::vector<std::string> expected = {
        "payload name 'a?.txt': unzip.exe refuses it: holds '?', which Windows does not allow in names",
        "payload name 'b*.txt': unzip.exe refuses it: holds '*', which Windows does not allow in names",
        "payload name 'con.txt': unzip.exe refuses it: reserved device name",
        "payload name 'end.': unzip.exe refuses it: ends in a dot or a blank, which Windows drops",
        "payload name 'docs/readme.txt' and 'docs/README.TXT' name the same file on Windows: they differ only in case",
        "extracted file 'C:\\Users\\Default\\AppData\\Local\\Temp\\KESTRUNE\\" + longName +
            "' does not fit in 259 characters (it has 260); programs that use the ANSI calls, as most installers do, "
            "cannot open it",
        "no medium was made: 6 problems (each on a line above)",
    };
    EXPECT_EQ(refused, expected) << built.err;
    // A UTF-8 name is marked so, and arrives as it is: nothing to warn of.
    EXPECT_FALSE(holds(built.err, "caf\xc3\xa9.txt")) << built.err;

    // The same payload packed by Info-ZIP zip, beside this medium's programs.
    makeDirectories(w.medium);
    writeFile(w.medium + "/setup.exe", readFile(w.launcher));
    writeFile(w.medium + "/unzip.exe", readFile(w.extractor));
    infoZip(w.payload, w.medium + "/package.zip", std::string("-P ") + packagePassword);
    const ToolRun checked = w.check();
    EXPECT_EQ(checked.status, 1);
    const std::vector<std::string> problems = linesAfter(checked.out, "problem: ");
    EXPECT_EQ(problems.size(), 6u) << checked.out;
    for (size_t i = 0; i + 1 < expected.size(); ++i) {
        std::string line = expected[i];
        if (line.rfind("payload name ", 0) == 0) line = line.substr(std::string("payload name ").size());
        // Which of two names differing in case comes first is the archive's order.
        if (line.find("the same file") != std::string::npos)
            line = "name the same file on Windows: they differ only in case";
        EXPECT_TRUE(anyHolds(problems, line)) << line << "\n" << checked.out;
    }
    // Info-ZIP zip does not mark it: unzip.exe reads it in the OEM code page.
    EXPECT_TRUE(holds(checked.err, "warning: 'caf\xc3\xa9.txt': has characters beyond ASCII without the UTF-8 mark"))
        << checked.err;
    EXPECT_TRUE(holds(checked.err, "(code page 437 gives 'caf\u251c\u2310.txt')")) << checked.err;
    EXPECT_FALSE(holds(checked.out, "warning:")) << "warnings go to stderr";
}

TEST(MediumBuild, ChecksPathsForThePackageDirectoryAndTemporaryPathAsCheckDoes) {
    Workspace w;
    writeFile(w.payload + "/" + std::string(160, 'f'), "fits under the default temporary path");
    const std::string temp = "C:\\" + std::string(90, 't') + "\\";
    const ToolRun refused = runTool(w.build({"--temp", temp}));
    EXPECT_EQ(refused.status, 1);
    const std::vector<std::string> errors = linesAfter(refused.err, "kestrune-medium: error: ");
    ASSERT_EQ(errors.size(), 2u) << refused.err;
    EXPECT_EQ(errors[0].rfind("extracted file 'C:\\" + std::string(90, 't') + "\\KESTRUNE\\", 0), 0u) << errors[0];
    EXPECT_FALSE(exists(w.medium));

    ASSERT_EQ(runTool(w.build()).status, 0);
    const ToolRun checked = w.check({"--temp", temp});
    EXPECT_EQ(checked.status, 1);
    EXPECT_EQ(linesAfter(checked.out, "problem: "), std::vector<std::string>{errors[0]}) << checked.out;

    const ToolRun badPlace = runTool(w.build({"--force", "--package-dir", "/media/usb"}));
    EXPECT_EQ(badPlace.status, 2);
    EXPECT_NE(badPlace.err.find("--package-dir '/media/usb' is not an absolute Windows path"), std::string::npos);
}

// A time the archive cannot hold is packed as the nearer end of what it
// holds: build says so of the payload's file, check of the packed entry.
TEST(MediumBuild, TimesTheArchiveCannotHoldAreNamedByBuildAndCheck) {
    Workspace w;
    writeFile(w.payload + "/docs/late.txt", "2150");
    const timespec times[2] = {{5680281600, 0}, {5680281600, 0}};  // 2150-01-01
    ASSERT_EQ(utimensat(AT_FDCWD, (w.payload + "/docs/late.txt").c_str(), times, 0), 0);
    const ToolRun built = runTool(w.build());
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_TRUE(holds(built.err,
                      "warning: payload file 'docs/late.txt': dated 2150-01-01 00:00:00 UTC; package.zip holds times "
                      "from 1901-12-13 20:45:52 UTC to 2106-02-07 06:28:15 UTC, so it is packed as 2106-02-07 06:28:15 "
                      "UTC"))
        << built.err;
    const ToolRun checked = w.check();
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_TRUE(holds(checked.err,
                      "warning: 'docs/late.txt': dated 2106-02-07 06:28:15 UTC, the latest time an entry can hold; "
                      "the file's own time was probably outside and was moved to it"))
        << checked.err;
}

TEST(MediumBuild, LeavesOutWhatIsExcludedAndSaysSo) {
    Workspace w;
    makeDirectories(w.payload + "/.git");
    writeFile(w.payload + "/.git/HEAD", "ref: refs/heads/main\n");
    writeFile(w.payload + "/docs/.DS_Store", "finder");
    writeFile(w.payload + "/docs/old.bak", "backup");
    const ToolRun built = runTool(w.build({"--exclude", "*.bak", "--exclude", "nomatch*"}));
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_TRUE(holds(built.out,
                      "left out by default: '.git' (1 folder), '.DS_Store' (1 file) (packed with "
                      "--no-default-excludes)"));
    EXPECT_TRUE(holds(built.out, "left out by --exclude: '*.bak' (1 file)"));
    EXPECT_TRUE(holds(built.err, "warning: --exclude 'nomatch*' matches nothing in the payload"));
    std::vector<std::string> kept = payloadContents(w.payload);
    kept.erase(std::remove_if(kept.begin(), kept.end(),
                              [](const std::string& entry) {
                                  return entry.rfind(".git/", 0) == 0 || entry.find(".DS_Store") != std::string::npos ||
                                         entry.find(".bak=") != std::string::npos;
                              }),
               kept.end());
    EXPECT_EQ(archiveContents(w.medium + "/package.zip", packagePassword), kept);

    const ToolRun everything = runTool(w.build({"--force", "--no-default-excludes"}));
    ASSERT_EQ(everything.status, 0) << everything.err;
    EXPECT_EQ(archiveContents(w.medium + "/package.zip", packagePassword), payloadContents(w.payload));
    EXPECT_EQ(everything.out.find("left out"), std::string::npos) << everything.out;
}

TEST(MediumCheck, WithoutSetupExeItShowsNoCommandLinesButChecksThePaths) {
    Workspace w;
    ASSERT_EQ(runTool(w.build()).status, 0);
    std::remove((w.medium + "/setup.exe").c_str());
    const ToolRun run = w.check({"--temp", "C:\\" + std::string(250, 't') + "\\"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(hasLine(run.out, "problem: ", "setup.exe is missing")) << run.out;
    EXPECT_TRUE(hasLine(run.out, "problem: ", "the work directory")) << run.out;
    EXPECT_TRUE(holds(run.out, "command lines: not shown without a usable setup.exe"));
    EXPECT_EQ(run.out.find("setup command"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("a silent run"), std::string::npos) << run.out;
}

// An archive unzip.exe refuses whole: check names each pair of entries that
// Windows takes for one file, and each overlap, on a problem line of its own.
TEST(MediumCheck, ReportsEachClashAndOverlapThatMakesUnzipExeRefuseTheArchive) {
    struct Case {
        const char* what;
        std::vector<std::string> files;  // packed in this order; empty: the crafted zip bomb
        std::vector<std::string> problems;
        size_t clashLines;
        size_t overlapLines;
    } cases[] = {
        {"three spellings of SETUP.EXE",
         {"SETUP.EXE", "setup.exe", "SETUP.EXE."},
         {"'SETUP.EXE.': unzip.exe refuses it: ends in a dot or a blank, which Windows drops",
          "'setup.exe' and 'SETUP.EXE' name the same file on Windows: they differ only in case",
          "'SETUP.EXE.' and 'SETUP.EXE' name the same file on Windows: they differ only in trailing dots or blanks, "
          "which Windows drops"},
         2,
         0},
        {"a short name beside a long one",
         {"SETUP.EXE", "Program Files.txt", "PROGRA~1.TXT"},
         {"'PROGRA~1.TXT' and 'Program Files.txt' name the same file on Windows: one may be Windows' short name "
          "(NAME~1.EXT) for the other"},
         1,
         0},
        {"40 entries over one stream", {}, {"damaged archive: the stored data of 'copy1.bin' overlaps that of"}, 0, 39},
    };
    for (const Case& c : cases) {
        Workspace w;
        const std::string source = w.scratch / "source";
        const std::string archive = w.scratch / "package.zip";
        if (c.files.empty()) {
            const std::string craft = std::string("python3 '") + KESTRUNE_CRAFT_ZIP + "' bomb '" + archive + "' 4096";
            ASSERT_EQ(std::system(craft.c_str()), 0) << craft;
        } else {
            makeDirectories(source);
            for (const std::string& name : c.files) writeFile(source + "/" + name, peImage(0x0102, name));
            infoZipNames(source, archive, c.files);
        }
        mediumAround(w, archive);
        const ToolRun run = w.check();
        EXPECT_EQ(run.status, 1) << c.what << "\n" << run.out;
        const std::vector<std::string> problems = linesAfter(run.out, "problem: ");
        for (const std::string& problem : c.problems) {
            EXPECT_TRUE(anyHolds(problems, problem)) << c.what << ": " << problem << "\n" << run.out;
        }
        size_t clashLines = 0, overlapLines = 0;
        for (const std::string& line : problems) {
            clashLines += line.find("name the same file on Windows") != std::string::npos ? 1 : 0;
            overlapLines += line.rfind("damaged archive: ", 0) == 0 ? 1 : 0;
        }
        EXPECT_EQ(clashLines, c.clashLines) << c.what << "\n" << run.out;
        EXPECT_EQ(overlapLines, c.overlapLines) << c.what << "\n" << run.out;
        // libzip's refusal of overlapping entries would only blur the reason.
        EXPECT_FALSE(anyHolds(problems, "cannot be opened as a ZIP archive")) << c.what << "\n" << run.out;
    }
}

// On Linux a payload can hold names that differ only in case; the build
// lists every pair and makes nothing.
TEST(MediumBuild, RefusesAPayloadWhoseNamesWouldClashOnWindowsListingThemAll) {
    Workspace w;
    writeFile(w.payload + "/a.txt", "lower");
    writeFile(w.payload + "/A.txt", "upper");
    makeDirectories(w.payload + "/DOCS");
    writeFile(w.payload + "/DOCS/README.TXT", "another readme");
    // Beside the short name's form, any long name may get it: PostProcess.cmd
    // at the root would, so these two stand in a folder of their own.
    makeDirectories(w.payload + "/setup");
    writeFile(w.payload + "/setup/Program Files.txt", "long");
    writeFile(w.payload + "/setup/PROGRA~1.TXT", "short");
    const std::vector<std::string> refused = refusedBuild(w);
    // The payload's names in the order the scan gives them (sorted, folders
    // before what they hold).
    const std::vector<std::string> expected = {
        "payload name 'a.txt' and 'A.txt' name the same file on Windows: they differ only in case",
        "payload name 'docs/readme.txt' and 'DOCS/README.TXT' name the same file on Windows: they differ only in case",
        "payload name 'setup/Program Files.txt' and 'setup/PROGRA~1.TXT' name the same file on Windows: one may be "
        "Windows' short name (NAME~1.EXT) for the other",
        "no medium was made: 3 problems (each on a line above)",
    };
    EXPECT_EQ(refused, expected);
}

// check names the installer behind SETUP.EXE, spelled in any case, and says
// whether the silent form the medium passes makes it silent; build warns of
// what check --strict takes for a problem.
TEST(MediumCheck, NamesTheInstallerBehindSetupExeAndWhetherASilentRunIsSilent) {
    ScratchDirectory nsis;
    const std::string plainNsis = makensisInstaller(nsis.path, false);
    const std::string silentNsis = makensisInstaller(nsis.path, true);
    struct Case {
        const char* what;
        std::string program;
        const char* name;  // as it stands in the payload
        bool msiTag;
        const char* installer;  // in check's note of SETUP.EXE
        bool silent;            // the silent form makes it silent, or is not known to fail
        const char* said;       // of the silent run
        const char* hint;       // for a mismatch
    } cases[] = {
        {"NSIS", plainNsis, "SETUP.EXE", false, "an NSIS installer", false,
         "SETUP.EXE is an NSIS installer: a silent run (-s) passes -s -SMS, which does not make an NSIS installer "
         "silent: it shows its wizard (NSIS takes /S, in capitals)",
         "rename the installer (to product-setup.exe, say)"},
        {"NSIS with msi.tag", plainNsis, "SETUP.EXE", true, "an NSIS installer", false,
         "passes /qn REBOOT=ReallySuppress, which does not make an NSIS installer silent", "starts it with /S"},
        {"NSIS, SilentInstall silent", silentNsis, "SETUP.EXE", false, "an NSIS installer", true,
         "SETUP.EXE: a silent run (-s) passes -s -SMS; this NSIS installer was built with SilentInstall silent", ""},
        {"Inno Setup", craftedInnoSetupLoader(), "SETUP.EXE", false, "an Inno Setup installer", false,
         "Inno Setup takes /VERYSILENT", "/VERYSILENT /SUPPRESSMSGBOXES /NORESTART when it is given -s"},
        {"InstallShield", craftedInstallShieldLauncher(), "SETUP.EXE", false, "an InstallShield setup launcher", true,
         "InstallShield's own silent form", ""},
        {"InstallShield with msi.tag", craftedInstallShieldLauncher(), "SETUP.EXE", true,
         "an InstallShield setup launcher", false, "which an InstallShield setup launcher does not take",
         "build the medium without --marker msi.tag"},
        {"Burn, spelled setup.exe", craftedBurnBundle(), "setup.exe", false,
         "at the archive root as 'setup.exe' (Windows finds it under either spelling, as the launcher runs it), a "
         "Windows program: a WiX bootstrapper (Burn)",
         true, "takes -s as /quiet", ""},
        {"Burn with msi.tag, spelled Setup.Exe", craftedBurnBundle(), "Setup.Exe", true, "a WiX bootstrapper (Burn)",
         false, "does not take: it shows its window", "build the medium without --marker msi.tag"},
        {"another program", peImage(0x0102, "an installer of its own"), "SETUP.EXE", false,
         "no installer this tool recognises", true, "whether that makes SETUP.EXE silent is not known here", ""},
    };
    for (const Case& c : cases) {
        Workspace w;
        std::remove((w.payload + "/SETUP.EXE").c_str());
        writeFile(w.payload + "/" + c.name, c.program);
        const ToolRun built =
            runTool(w.build(c.msiTag ? std::vector<std::string>{"--marker", "msi.tag"} : std::vector<std::string>{}));
        ASSERT_EQ(built.status, 0) << c.what << "\n" << built.err;
        EXPECT_EQ(built.err.find("kestrune-medium: warning: SETUP.EXE is ") != std::string::npos, !c.silent)
            << c.what << "\n"
            << built.err;

        const ToolRun checked = w.check();
        EXPECT_EQ(checked.status, 0) << c.what << "\n" << checked.out;
        EXPECT_TRUE(hasLine(checked.out, "SETUP.EXE: at the archive root", c.installer)) << c.what << "\n"
                                                                                         << checked.out;
        EXPECT_TRUE(holds(c.silent ? checked.out : checked.err, c.said)) << c.what;
        const ToolRun strict = w.check({"--strict"});
        EXPECT_EQ(strict.status, c.silent ? 0 : 1) << c.what << "\n" << strict.out;
        if (!c.silent) {
            EXPECT_TRUE(hasLine(strict.out, "problem: SETUP.EXE is ", c.said)) << c.what << "\n" << strict.out;
            EXPECT_TRUE(hasLine(checked.out, "hint: to make it silent, ", c.hint)) << c.what << "\n" << checked.out;
            EXPECT_TRUE(holds(built.err, c.hint)) << c.what;
        }
    }
}
