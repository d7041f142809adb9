// The folder a medium is built into: what --force may replace, what is
// refused before anything is packed, what a replaced folder keeps, and the
// leftovers of killed builds.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "file_io.h"
#include "medium_test_support.h"
#include "package_password.h"

using namespace medium_test;

namespace {

void makeMedium(const std::string& directory) {
    makeDirectories(directory);
    writeFile(directory + "/setup.exe", "old launcher");
    writeFile(directory + "/unzip.exe", "old extractor");
    writeFile(directory + "/package.zip", "old package");
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// Starts kestrune-medium with `arguments`, its stderr into `errPath`.
pid_t startTool(std::vector<std::string> arguments, const std::string& errPath) {
    arguments.insert(arguments.begin(), KESTRUNE_MEDIUM_EXE);
    return startProgram(arguments, "/dev/null", errPath);
}

// Waits (polling the file system, not the clock) until the build's
// temporary folder stands in `directory`.
bool stagingAppears(const std::string& directory) {
    for (int i = 0; i < 2000 && stagingLeftovers(directory).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return !stagingLeftovers(directory).empty();
}

}  // namespace

TEST(MediumOutput, ReplacesAMediumOnlyWithForceAndKeepsItsAutorun) {
    Workspace w;
    ASSERT_EQ(runTool(w.build()).status, 0);
    const std::string firstArchive = readFile(w.medium + "/package.zip");

    writeFile(w.payload + "/docs/readme.txt", "second edition\n");
    const ToolRun refused = runTool(w.build());
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(holds(refused.err, "holds a medium; give --force to replace it"));
    EXPECT_EQ(readFile(w.medium + "/package.zip"), firstArchive);

    writeFile(w.medium + "/autorun.inf", "[autorun]\r\nopen=setup.exe\r\n");
    const ToolRun replaced = runTool(w.build({"--force", "--marker", "msi.tag"}));
    ASSERT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(listDirectory(w.medium),
              (std::vector<std::string>{"autorun.inf", "package.zip", "setup.exe", "unzip.exe"}));
    EXPECT_EQ(readFile(w.medium + "/autorun.inf"), "[autorun]\r\nopen=setup.exe\r\n");
    EXPECT_TRUE(holds(replaced.out, "autorun.inf: kept from the medium it replaced"));
    EXPECT_EQ(archiveContents(w.medium + "/package.zip", packagePassword), payloadContents(w.payload));
    EXPECT_EQ(stagingLeftovers(w.scratch.path), std::vector<std::string>{});

    // An empty folder is no medium to protect.
    makeDirectories(w.scratch / "empty");
    const ToolRun intoEmpty = runTool(w.buildTo(w.scratch / "empty"));
    EXPECT_EQ(intoEmpty.status, 0) << intoEmpty.err;
    EXPECT_TRUE(exists(w.scratch / "empty/package.zip"));
}

TEST(MediumOutput, ForceNeverReplacesAFolderThatIsNotAMediumAndNothingElse) {
    const SpoiledCase cases[] = {
        {"a folder of the author's",
         [](const std::string& out, const std::string&) {
             makeDirectories(out + "/sub");
             writeFile(out + "/notes.txt", "precious");
             writeFile(out + "/sub/more.txt", "precious too");
         },
         "holds 'notes.txt', which is not part of a medium"},
        {"a medium and a file beside it",
         [](const std::string& out, const std::string&) {
             makeMedium(out);
             writeFile(out + "/left-over.txt", "from before");
         },
         "holds 'left-over.txt', which is not part of a medium"},
        {"a medium whose setup.exe is a folder",
         [](const std::string& out, const std::string&) {
             makeMedium(out);
             unlink((out + "/setup.exe").c_str());
             makeDirectories(out + "/setup.exe");
             writeFile(out + "/setup.exe/inside.txt", "precious");
         },
         "holds 'setup.exe', which is not a regular file"},
        {"a medium whose unzip.exe links elsewhere",
         [](const std::string& out, const std::string& scratch) {
             makeMedium(out);
             unlink((out + "/unzip.exe").c_str());
             writeFile(scratch + "/elsewhere.exe", "precious");
             symlink((scratch + "/elsewhere.exe").c_str(), (out + "/unzip.exe").c_str());
         },
         "holds 'unzip.exe', which is not a regular file"},
        {"part of a medium",
         [](const std::string& out, const std::string&) {
             makeDirectories(out);
             writeFile(out + "/package.zip", "precious");
         },
         "holds no whole medium (no setup.exe)"},
        {"a link to a medium",
         [](const std::string& out, const std::string& scratch) {
             makeMedium(scratch + "/real-medium");
             symlink((scratch + "/real-medium").c_str(), out.c_str());
         },
         "is a symbolic link to '"},
    };
    for (const SpoiledCase& c : cases) {
        Workspace w;
        const std::string out = w.scratch / "out";
        c.spoil(out, w.scratch.path);
        const std::vector<std::string> before = treeOf(w.scratch.path);
        const ToolRun run = runTool(w.buildTo(out, {"--force"}));
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_NE(run.err.find(c.expected), std::string::npos) << c.what << "\n" << run.err;
        EXPECT_EQ(treeOf(w.scratch.path), before) << c.what << ": something was changed";
    }
}

TEST(MediumOutput, NeverTheCurrentFolderAHomeFolderOrThePayload) {
    struct Case {
        const char* what;
        const char* out;      // below the scratch folder
        const char* current;  // the tool's current folder, below the scratch folder
        const char* home;     // $HOME, below the scratch folder
        const char* expected;
    } cases[] = {
        {"the current folder", "place/medium", "place/medium", "elsewhere", "is the current folder"},
        {"a folder that holds the current folder", "place", "place/medium", "elsewhere", "holds the current folder"},
        {"the home folder", "place/medium", "elsewhere", "place/medium", "is the home folder"},
        {"a folder that holds the home folder", "place", "elsewhere", "place/medium", "holds the home folder"},
        {"the payload", "payload", "elsewhere", "elsewhere", "lies in the output"},
        {"a folder in the payload", "payload/docs/medium", "elsewhere", "elsewhere", "lies in the payload"},
    };
    for (const Case& c : cases) {
        Workspace w;
        // Each place holds nothing but a medium: only where it is refuses it.
        makeMedium(w.scratch / "place/medium");
        makeDirectories(w.scratch / "elsewhere");
        const std::vector<std::string> before = treeOf(w.scratch.path);
        std::vector<std::string> command = {"bash", "-c", "cd \"$0\" && exec \"$@\"", w.scratch / c.current,
                                            KESTRUNE_MEDIUM_EXE};
        for (const std::string& argument : w.buildTo(w.scratch / c.out, {"--force"})) command.push_back(argument);
        const ToolRun run = runProgram(command, {"HOME=" + w.scratch / c.home});
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_NE(run.err.find(c.expected), std::string::npos) << c.what << "\n" << run.err;
        EXPECT_EQ(treeOf(w.scratch.path), before) << c.what << ": something was changed";
    }
}

TEST(MediumOutput, AMountPointIsRefusedBeforeAnythingIsPacked) {
    EXPECT_TRUE(isMountPoint("/proc"));
    EXPECT_TRUE(isMountPoint("/"));
    Workspace w;
    EXPECT_FALSE(isMountPoint(w.scratch.path));
    const ToolRun run = runTool(w.buildTo("/proc", {"--force"}));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(holds(run.err, "output '/proc' is a mount point; the medium is renamed into its place"));
    EXPECT_EQ(stagingLeftovers("/"), std::vector<std::string>{});
}

TEST(MediumOutput, AReplacedFolderKeepsItsOwnerAndMode) {
    struct Case {
        const char* what;
        bool medium;  // else an empty folder
        mode_t mode;
    } cases[] = {{"a medium", true, 0750}, {"an empty folder", false, 0701}};
    // Only root can give a folder to another user; others check the mode.
    const bool root = geteuid() == 0;
    for (const Case& c : cases) {
        Workspace w;
        if (c.medium) {
            ASSERT_EQ(runTool(w.build()).status, 0);
        } else {
            makeDirectories(w.medium);
        }
        ASSERT_EQ(chmod(w.medium.c_str(), c.mode), 0);
        if (root) {
            ASSERT_EQ(chown(w.medium.c_str(), 4321, 4322), 0);
        }
        const ToolRun run = runTool(w.build({"--force"}));
        ASSERT_EQ(run.status, 0) << c.what << run.err;
        struct stat status;
        ASSERT_EQ(stat(w.medium.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, c.mode) << c.what;
        if (root) {
            EXPECT_EQ(status.st_uid, 4321u) << c.what;
            EXPECT_EQ(status.st_gid, 4322u) << c.what;
        }
        EXPECT_EQ(archiveContents(w.medium + "/package.zip", packagePassword), payloadContents(w.payload)) << c.what;
    }
}

TEST(MediumOutput, TheNextBuildRemovesAndNamesWhatAKilledBuildLeft) {
    Workspace w;
    // Large enough that packing it lasts well beyond the kill.
    writeFile(w.payload + "/docs/large.bin", incompressibleBytes(64 * 1024 * 1024));
    const std::string errors = w.scratch / "killed.err";
    const pid_t pid = startTool(w.build(), errors);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(stagingAppears(w.scratch.path));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    const std::vector<std::string> left = stagingLeftovers(w.scratch.path);
    ASSERT_EQ(left.size(), 1u) << "a killed build cannot clean up";

    unlink((w.payload + "/docs/large.bin").c_str());
    const ToolRun next = runTool(w.build());
    ASSERT_EQ(next.status, 0) << next.err;
    EXPECT_TRUE(
        holds(next.err, "warning: removed '" + w.scratch / left[0] + "', left by an earlier build that was killed"));
    EXPECT_EQ(stagingLeftovers(w.scratch.path), std::vector<std::string>{});
    EXPECT_EQ(archiveContents(w.medium + "/package.zip", packagePassword), payloadContents(w.payload));
}

TEST(MediumOutput, ABuildThatIsStillRunningIsLeftAloneAndRefusesTheSecond) {
    Workspace w;
    // A temporary folder as a running build holds it: locked.
    const std::string running = w.scratch / ".medium.kestrune-medium-Ab12Cd";
    makeDirectories(running);
    writeFile(running + "/package.zip", "being written");
    const int lock = open(running.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    // Another medium's leftover and a look-alike that is no folder of ours.
    makeDirectories(w.scratch / ".other.kestrune-medium-Zz99Yy");
    writeFile(w.scratch / ".medium.kestrune-medium-notes", "a file of the author's");

    const ToolRun run = runTool(w.build());
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(holds(run.err, "another build of '" + w.medium + "' is running (it works in '" + running + "')"));
    EXPECT_FALSE(exists(w.medium));
    EXPECT_EQ(readFile(running + "/package.zip"), "being written");
    EXPECT_EQ(stagingLeftovers(w.scratch.path),
              (std::vector<std::string>{".medium.kestrune-medium-Ab12Cd", ".medium.kestrune-medium-notes",
                                        ".other.kestrune-medium-Zz99Yy"}));
    close(lock);
}

TEST(MediumOutput, AnInterruptedBuildSaysSoAndLeavesNothing) {
    struct Case {
        const char* what;
        int signal;
        bool existingMedium;
    } cases[] = {{"SIGTERM, no medium yet", SIGTERM, false}, {"SIGINT while replacing", SIGINT, true}};
    for (const Case& c : cases) {
        Workspace w;
        if (c.existingMedium) {
            ASSERT_EQ(runTool(w.build()).status, 0);
        }
        const std::vector<std::string> before = treeOf(w.medium);
        // Large enough that packing it lasts well beyond the signal.
        writeFile(w.payload + "/docs/large.bin", incompressibleBytes(64 * 1024 * 1024));
        const std::string errors = w.scratch / "interrupted.err";
        const pid_t pid = startTool(w.build({"--force"}), errors);
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(stagingAppears(w.scratch.path)) << c.what;
        kill(pid, c.signal);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << c.what << " status " << status;
        EXPECT_EQ(readFile(errors), "kestrune-medium: error: interrupted; nothing was written\n") << c.what;
        EXPECT_EQ(stagingLeftovers(w.scratch.path), std::vector<std::string>{}) << c.what;
        EXPECT_EQ(treeOf(w.medium), before) << c.what << "\n" << joined(treeOf(w.medium));
    }
}

// A signal at a chosen point: strace delivers it as the tool enters the
// n-th call of a system call (the call itself still runs), so that the
// message can be checked against what stands on the disk.
TEST(MediumOutput, AnInterruptionSaysWhatWasWrittenAndWhatWasNot) {
    ASSERT_EQ(std::string(KESTRUNE_STRACE).find("NOTFOUND"), std::string::npos)
        << "strace is needed (scripts/install-deps.sh installs it)";
    struct Case {
        const char* what;
        const char* call;  // the system call the signal comes with
        int when;          // at its n-th call
        int signal;
        // The command, given the workspace and a disc image's path.
        std::vector<std::string> (*command)(const Workspace& w, const std::string& image);
        const char* message;  // after "kestrune-medium: error: interrupted; ", placeholders M and I
        bool folder, imageWritten, signedPrograms;
    } cases[] = {
        {"build of both, after the folder is put in place", "rename", 1, SIGINT,
         [](const Workspace& w, const std::string& image) {
             return w.build({"--iso", image});
         },
         "the medium folder 'M' was written; the disc image 'I' was not", true, false, false},
        {"build of an image, as it is put in place", "renameat2", 1, SIGTERM,
         [](const Workspace& w, const std::string& image) {
             return std::vector<std::string>{"build",      w.payload,  "--iso",       image,
                                             "--launcher", w.launcher, "--extractor", w.extractor};
         },
         "the disc image 'I' was written, all there was to write", false, true, false},
        {"sign of a folder, after setup.exe is replaced", "rename", 1, SIGINT,
         [](const Workspace& w, const std::string&) {
             return std::vector<std::string>{
                 "sign", w.medium, "--cert", w.scratch / "signer/cert.pem", "--key", w.scratch / "signer/key.pem"};
         },
         "the signed 'M/setup.exe' and the signed 'M/unzip.exe' were written, all there was to write", true, false,
         true},
        {"sign of an image, as its copy's setup.exe is signed", "rename", 1, SIGINT,
         [](const Workspace& w, const std::string& image) {
             return std::vector<std::string>{
                 "sign", image, "--cert", w.scratch / "signer/cert.pem", "--key", w.scratch / "signer/key.pem"};
         },
         "nothing was written", false, false, false},
        {"sign of an image, as the signed image is put in place", "rename", 3, SIGHUP,
         [](const Workspace& w, const std::string& image) {
             return std::vector<std::string>{
                 "sign", image, "--cert", w.scratch / "signer/cert.pem", "--key", w.scratch / "signer/key.pem"};
         },
         "the signed disc image 'I' was written, all there was to write", false, true, true},
        {"mark, as the line is flushed to the disk", "fsync", 1, SIGINT,
         [](const Workspace& w, const std::string&) {
             return std::vector<std::string>{"mark", w.medium + "/setup.exe", "msi.tag"};
         },
         "the marked launcher 'M/setup.exe' was written, all there was to write", true, false, false},
    };
    const TestSigner signer;
    for (const Case& c : cases) {
        Workspace w;
        makeDirectories(w.scratch / "signer");
        writeFile(w.scratch / "signer/cert.pem", readFile(signer.certificate));
        writeFile(w.scratch / "signer/key.pem", readFile(signer.key));
        writeFile(w.launcher, signableLauncher());
        writeFile(w.extractor, peProgram("the extractor"));
        const std::string image = w.scratch / "disc.iso";
        const std::vector<std::string> arguments = c.command(w, image);
        // sign and mark work on a medium, folder and image, built beforehand.
        if (arguments[0] != "build") {
            ASSERT_EQ(runTool(w.build({"--iso", image})).status, 0) << c.what;
        }
        const std::string imageBefore = exists(image) ? readFile(image) : "";
        const std::string setupBefore = exists(w.medium) ? readFile(w.medium + "/setup.exe") : "";
        std::vector<std::string> command = {
            KESTRUNE_STRACE,
            "-qq",
            "-o",
            "/dev/null",
            "-e",
            std::string("trace=") + c.call,
            "-e",
            std::string("inject=") + c.call + ":signal=" + std::to_string(c.signal) + ":when=" + std::to_string(c.when),
            KESTRUNE_MEDIUM_EXE};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const ToolRun run = runProgram(command);
        EXPECT_EQ(run.status, 128 + c.signal) << c.what << "\n" << run.err;
        std::string message = c.message;
        for (size_t at = message.find('M'); at != std::string::npos; at = message.find('M', at + 1)) {
            if (message[at + 1] == '/' || message[at + 1] == '\'') message.replace(at, 1, w.medium);
        }
        const size_t imageAt = message.find("'I'");
        if (imageAt != std::string::npos) message.replace(imageAt + 1, 1, image);
        EXPECT_TRUE(holds(run.err, "kestrune-medium: error: interrupted; " + message + "\n")) << c.what;
        EXPECT_EQ(stagingLeftovers(w.scratch.path), std::vector<std::string>{}) << c.what;
        if (arguments[0] == "build") {
            EXPECT_EQ(exists(w.medium), c.folder) << c.what;
            EXPECT_EQ(exists(image), c.imageWritten) << c.what;
            if (c.folder) {
                EXPECT_EQ(archiveContents(w.medium + "/package.zip", packagePassword), payloadContents(w.payload));
            }
            continue;
        }
        // What is said to be written is written whole; the rest is as it was.
        EXPECT_EQ(readFile(image) != imageBefore, c.imageWritten) << c.what;
        const bool folderChanged = readFile(w.medium + "/setup.exe") != setupBefore;
        EXPECT_EQ(folderChanged, c.folder) << c.what;
        const std::string checkedPlace = c.imageWritten ? image : w.medium;
        const ToolRun checked = runTool({"check", checkedPlace, "--ca-file", signer.certificate});
        EXPECT_EQ(checked.status, 0) << c.what << "\n" << checked.out;
        EXPECT_EQ(countOf(checked.out, "; verified: the file is as it was signed"), c.signedPrograms ? 2u : 0u)
            << c.what << "\n"
            << checked.out;
    }
}
