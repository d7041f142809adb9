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
    makeDirectories(s + "/lower-case");
    writeFile(s + "/lower-case/setup.exe", peImage());
    makeDirectories(s + "/taken");
    writeFile(s + "/taken/keep.txt", "keep");
    const RefusedRun cases[] = {
        {{}, {}, 2, "usage:"},
        {{"burn"}, {}, 2, "unknown command 'burn'; the nearest is build"},
        {{"chek", w.medium}, {}, 2, "unknown command 'chek'; the nearest is check"},
        {{"help", "marks"}, {}, 2, "unknown help topic 'marks'; the nearest command is mark"},
        {{"build", w.payload, "--out", w.medium, "--colour"}, {}, 2, "unknown option --colour"},
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
        {w.build({"--marker", "msi.tg", "--any-marker"}), {}, 2, "did you mean msi.tag?"},
        {w.build({"--marker", "product=demo"}),
         {},
         2,
         "not a tag the launcher knows (it knows msi.tag); give --any-marker"},
        {w.build({"--marker", std::string(150, 'a'), "--marker", std::string(150, 'b'), "--any-marker"}),
         {},
         1,
         "bytes before the end of setup.exe, not within the last 256; the launcher does not see it"},
        {w.build({}, s + "/missing"), {}, 1, "does not exist"},
        {w.build({}, s + "/notes.txt"), {}, 1, "is not a folder"},
        {w.build({}, s + "/no-setup"), {}, 1, "no SETUP.EXE"},
        {w.build({}, s + "/lower-case"), {}, 1, "only 'setup.exe', which differs in case"},
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
    EXPECT_NE(runTool({"help", "build"}).out.find("--exclude PATTERN"), std::string::npos);
    EXPECT_EQ(runTool({"help", "check"}).out.find("--exclude"), std::string::npos);

    const ToolRun version = runTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("kestrune-medium 1.", 0), 0u) << version.out;
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

TEST(MediumCheck, TheSilentFormFollowsTheMarkersOfSetupExe) {
    struct Case {
        std::string appended;  // to setup.exe after the build, as an editor or signer would
        const char* form;
        const char* problem;  // nullptr: none
    } cases[] = {
        {"", "-s -SMS", nullptr},
        {"other.tag \r\n", "-s -SMS", nullptr},
        {"msi.tag \r\n", "/qn REBOOT=ReallySuppress", nullptr},
        {"msi.tag \r\n" + std::string(300, '\x82'), "-s -SMS", "marker 'msi.tag' starts 310 bytes before the end"},
        {"MSI.TAG \r\n", "-s -SMS",
         "marker 'MSI.TAG' is not msi.tag: the launcher compares tags exactly, case "
         "included; did you mean msi.tag?"},
        {"msi \r\n", "-s -SMS", "marker 'msi' is not msi.tag"},
    };
    for (const Case& c : cases) {
        Workspace w;
        ASSERT_EQ(runTool(w.build()).status, 0);
        writeFile(w.medium + "/setup.exe", readFile(w.medium + "/setup.exe") + c.appended);
        const ToolRun run = w.check();
        EXPECT_NE(run.out.find(std::string("KESTRUNE\\SETUP.EXE\" ") + c.form + " ["), std::string::npos)
            << c.form << "\n"
            << run.out;
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
    EXPECT_TRUE(holds(run.out,
                      "warning: marker 'MSI.TAG' is not msi.tag: the launcher compares tags exactly, case "
                      "included, and finds msi.tag in another line"));
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
    const std::string marked = w.scratch / "marked.exe";
    writeFile(marked, readFile(w.launcher));
    ASSERT_EQ(runTool({"mark", marked, "outside.tag", "--any-marker"}).status, 0);
    writeFile(marked, readFile(marked) + std::string(300, '\x82'));
    ASSERT_EQ(runTool({"mark", marked, "--any-marker", "--", "-dash.tag", "msi.tag"}).status, 0);
    const ToolRun run = runTool({"markers", marked});
    // A line the launcher does not see is a problem, as check says.
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(holds(run.out, "problem: marker 'outside.tag' starts"));
    EXPECT_TRUE(holds(run.out, "outside the window: outside.tag, " + std::to_string(300 + 14 + 12 + 10) +
                                   " bytes before the end of the file; the launcher does not see it"));
    EXPECT_TRUE(holds(run.out, "marker: -dash.tag (not a tag the launcher acts on)\nmarker: msi.tag\n"));
    EXPECT_TRUE(holds(run.out, "msi.tag: seen by the launcher"));

    // A block of markers longer than the window: mark warns about the first.
    const std::string crowded = w.scratch / "crowded.exe";
    writeFile(crowded, readFile(w.launcher));
    const ToolRun mark = runTool({"mark", crowded, std::string(150, 'a'), std::string(150, 'b'), "--any-marker"});
    EXPECT_EQ(mark.status, 0);
    EXPECT_TRUE(holds(mark.err, "warning: " + std::string(150, 'a') + " does not stand in the last 256 bytes"));
    EXPECT_EQ(mark.err.find(std::string(150, 'b') + " does not stand"), std::string::npos) << mark.err;
    const ToolRun listed = runTool({"markers", crowded});
    EXPECT_TRUE(holds(listed.out, "partly outside the window: " + std::string(150, 'a')));
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
    EXPECT_TRUE(holds(checked.out, "warning: 'caf\xc3\xa9.txt': has characters beyond ASCII without the UTF-8 mark"))
        << checked.out;
    EXPECT_TRUE(holds(checked.out, "(code page 437 gives 'caf\u251c\u2310.txt')")) << checked.out;
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
    EXPECT_TRUE(holds(checked.out,
                      "warning: 'docs/late.txt': dated 2106-02-07 06:28:15 UTC, the latest time an entry can hold; "
                      "the file's own time was probably outside and was moved to it"))
        << checked.out;
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
