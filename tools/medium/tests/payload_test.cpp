// Reading a payload folder, the rules on names, and what is refused before
// anything is written.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "archive_writer.h"
#include "medium_test_support.h"
#include "name_rules.h"
#include "package_password.h"
#include "payload.h"

using namespace medium_test;

namespace {

Payload scanned(const std::string& directory, const ScanOptions& options = {}) {
    Payload payload;
    std::string error;
    EXPECT_TRUE(scanPayload(directory, options, payload, error)) << error;
    return payload;
}

std::vector<std::string> namesOf(const Payload& payload) {
    std::vector<std::string> names;
    for (const PayloadEntry& entry : payload.entries) names.push_back(entry.name);
    return names;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// A socket file, as a program that listens on one leaves it.
void makeSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    close(fd);
}

}  // namespace

TEST(NameRules, EachNameWindowsWouldChangeOrRefuseIsFoundWithItsReason) {
    struct Case {
        std::string name;
        const char* expected;  // nullptr: no finding
        bool refused;
    } cases[] = {
        {"readme.txt", nullptr, false},
        {"My Documents/", nullptr, false},
        {".hidden", nullptr, false},
        {"docs/a.b.c", nullptr, false},
        {"back\\slash", "holds a backslash", true},
        {"trailing.", "unzip.exe refuses it: ends in a dot or a blank, which Windows drops", true},
        {"trailing /x.txt", "unzip.exe refuses it: 'trailing ': ends in a dot or a blank", true},
        {"docs/con/x.txt", "unzip.exe refuses it: 'con': reserved device name", true},
        {"COM\u00b9.txt", "reserved device name", true},
        {"LPT\u00b3", "reserved device name", true},
        {"CONOUT$", "reserved device name", true},
        {"con.txt", "reserved device name", true},
        {"docs/LPT1", "reserved device name", true},
        {"a:b", "holds ':'", true},
        {"star*", "holds '*', which Windows does not allow", true},
        {"what?.txt", "holds '?'", true},
        {"less<more", "holds '<'", true},
        {"tab\there", "holds a control character (0x09)", true},
        {"../up", "parent or current directory", true},
        // UTF-8 names are marked so, and arrive as they are.
        {"caf\u00e9.txt", nullptr, false},
        {"Gr\u00f6\u00dfe/\u65e5\u672c\u8a9e \U0001F600.txt", nullptr, false},
        // A name that is not UTF-8 goes unmarked: its spelling depends on
        // the machine's OEM code page.
        {"caf\xe9.txt", "without the UTF-8 mark; unzip.exe reads such a name in the OEM code page", false},
        {"caf\xe9.txt", "(code page 437 gives 'caf\u0398.txt')", false},
        // What Windows allows in a name, in UTF-16 units; a file's part file
        // needs 14 of them.
        {std::string(256, 'd') + "/x.txt", "a name longer than the 255 characters Windows allows", true},
        {std::string(242, 'f'), "a file name longer than 241 characters", true},
        {std::string(255, 'd') + "/", nullptr, false},
    };
    for (const Case& c : cases) {
        const std::vector<NameFinding> findings = nameFindings({c.name});
        if (c.expected == nullptr) {
            EXPECT_TRUE(findings.empty()) << c.name << ": " << findings.front().problem;
            continue;
        }
        ASSERT_EQ(findings.size(), 1u) << c.name;
        EXPECT_NE(findings[0].problem.find(c.expected), std::string::npos) << c.name << ": " << findings[0].problem;
        EXPECT_EQ(findings[0].refused, c.refused) << c.name;
    }
}

TEST(NameRules, EveryBadNameIsListedOnceInOneRun) {
    const std::vector<std::string> names = {
        "SETUP.EXE",   "a?.txt",      "b*.txt", "con/",     "con/inside.txt", "docs/",     "docs/x.txt", "DOCS/",
        "docs/README", "docs/readme", "end.",   "caf\xe9/", "caf\xe9/a",      "caf\xe9/b", "end",        "caf\u00e9/x",
    };
    const std::vector<NameFinding> findings = nameFindings(names);
    std::vector<std::string> lines;
    for (const NameFinding& finding : findings) lines.push_back(finding.line());
    const std::vector<std::string> expected = {
        "'a?.txt': unzip.exe refuses it: holds '?', which Windows does not allow in names",
        "'b*.txt': unzip.exe refuses it: holds '*', which Windows does not allow in names",
        "'con/': unzip.exe refuses it: reserved device name",
        "'end.': unzip.exe refuses it: ends in a dot or a blank, which Windows drops",
        "'caf\xe9/': has characters beyond ASCII without the UTF-8 mark; unzip.exe reads such a name in the OEM code "
        "page of the Windows machine, so it may be spelled differently there (code page 437 gives 'caf\u0398/')",
        // Two spellings of one folder are one folder; its files are compared.
        "'docs/readme' and 'docs/README' name the same file on Windows: they differ only in case",
        "'end' and 'end.' name the same file on Windows: they differ only in trailing dots or blanks, which Windows "
        "drops",
    };
    EXPECT_EQ(lines, expected) << joined(lines);
}

// The rule is unzip.exe's own (entry_clashes.h): what it would refuse
// whole, check reports and build refuses, a line for each later name.
TEST(NameRules, NamesWindowsTakesForOneFileAreFoundByUnzipExesRule) {
    struct Case {
        std::vector<std::string> names;
        std::vector<std::string> clashes;  // the lines of the findings that name two entries
    } cases[] = {
        {{"SETUP.EXE", "setup.exe", "SETUP.EXE."},
         {"'setup.exe' and 'SETUP.EXE' name the same file on Windows: they differ only in case",
          "'SETUP.EXE.' and 'SETUP.EXE' name the same file on Windows: they differ only in trailing dots or blanks, "
          "which Windows drops"}},
        {{"Program Files.txt", "PROGRA~1.TXT"},
         {"'PROGRA~1.TXT' and 'Program Files.txt' name the same file on Windows: one may be Windows' short name "
          "(NAME~1.EXT) for the other"}},
        {{"docs/PROGRA~1.TXT", "docs/Program Files.txt"},
         {"'docs/Program Files.txt' and 'docs/PROGRA~1.TXT' name the same file on Windows: one may be Windows' short "
          "name (NAME~1.EXT) for the other"}},
        {{"data", "DATA/"},
         {"'DATA/' and 'data' name the same file on Windows: one is a file, the other a folder of the same name"}},
        {{"a.txt", "a.txt"}, {"'a.txt' and 'a.txt' name the same file on Windows: the same name twice"}},
        // Case beyond ASCII, as Windows folds it.
        {{"caf\u00e9.txt", "CAF\u00c9.TXT", "\u03c3", "\u03c2"},
         {"'CAF\u00c9.TXT' and 'caf\u00e9.txt' name the same file on Windows: they differ only in case",
          "'\u03c2' and '\u03c3' name the same file on Windows: they differ only in case"}},
        {{"docs/", "DOCS/", "docs/a.txt", "DOCS/b.txt", "DOCS/A.TXT"},
         {"'DOCS/A.TXT' and 'docs/a.txt' name the same file on Windows: they differ only in case"}},
        // An 8.3 name beside the alias, or an alias in another folder, is no clash.
        {{"PROGRA~1.TXT", "other.txt", "docs/Program Files.txt"}, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> clashes;
        for (const NameFinding& finding : nameFindings(c.names)) {
            if (finding.other.empty()) continue;
            EXPECT_TRUE(finding.refused) << finding.line();
            clashes.push_back(finding.line());
        }
        EXPECT_EQ(clashes, c.clashes) << c.names.front();
    }
}

// Windows finds SETUP.EXE in any case: the launcher's "W\SETUP.EXE" opens
// "setup.exe" as well.
TEST(NameRules, SetupProgramMayStandInAnyCase) {
    struct Case {
        std::vector<std::string> rootNames;
        const char* entry;  // the one the launcher runs, "" for none
    } cases[] = {
        {{"SETUP.EXE"}, "SETUP.EXE"},
        {{"data.bin", "SETUP.EXE"}, "SETUP.EXE"},
        {{}, ""},
        {{"install.exe"}, ""},
        {{"setup.exe.bak", "xsetup.exe"}, ""},
        {{"setup.exe"}, "setup.exe"},
        {{"a.txt", "Setup.Exe"}, "Setup.Exe"},
        // Two spellings are a clash of their own (name_rules); the exact one counts.
        {{"setup.exe", "SETUP.EXE"}, "SETUP.EXE"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(setupProgramEntry(c.rootNames), c.entry);
        EXPECT_TRUE(isProblem(setupProgramProblem(c.rootNames, "payload"), *c.entry == '\0' ? "no SETUP.EXE" : ""));
    }
}

TEST(PayloadScan, ListsFoldersBeforeTheirFilesWithSizes) {
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
    writeFile(scratch / "payload/docs/b.bin", std::string(1000, 'b'));
    const Payload payload = scanned(scratch / "payload");
    const std::vector<std::string> expected = {"PostProcess.cmd", "SETUP.EXE",   "docs/",
                                               "docs/b.bin",      "docs/empty/", "docs/readme.txt"};
    EXPECT_EQ(namesOf(payload), expected);
    EXPECT_TRUE(payload.problems.empty()) << joined(payload.problems);
    uint64_t bytes = 0;
    for (const std::string& content : payloadContents(scratch / "payload")) {
        bytes += content.size() - content.find('=') - 1;
    }
    EXPECT_EQ(payload.totalBytes, bytes);
    EXPECT_EQ(payload.fileCount, 4u);
}

TEST(PayloadScan, RefusesLinksAndSpecialFilesNamingEachOneAndNeverFollows) {
    ScratchDirectory scratch;
    const std::string p = scratch / "payload";
    makePayload(p);
    makeDirectories(scratch / "outside");
    writeFile(scratch / "outside/secret.txt", "not for the medium");
    ASSERT_EQ(symlink("/etc/shadow", (p + "/shadow").c_str()), 0);
    ASSERT_EQ(symlink((scratch / "outside").c_str(), (p + "/docs/elsewhere").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (p + "/dangling").c_str()), 0);
    ASSERT_EQ(symlink("..", (p + "/docs/loop").c_str()), 0);
    ASSERT_EQ(mkfifo((p + "/pipe").c_str(), 0600), 0);
    makeSocket(p + "/docs/socket");

    const Payload payload = scanned(p);
    const std::string problems = joined(payload.problems);
    for (const std::string& expected : {
             "'" + p + "/shadow' is a symbolic link to '/etc/shadow'",
             "'" + p + "/docs/elsewhere' is a symbolic link to '" + scratch.path + "/outside'",
             "'" + p + "/dangling' is a symbolic link to 'nowhere'",
             "'" + p + "/docs/loop' is a symbolic link to '..'",
             "'" + p + "/pipe' is a FIFO (named pipe)",
             "'" + p + "/docs/socket' is a socket",
         }) {
        EXPECT_NE(problems.find(expected), std::string::npos) << expected << "\n" << problems;
    }
    EXPECT_EQ(payload.problems.size(), 6u) << problems;
    for (const std::string& name : namesOf(payload)) {
        EXPECT_EQ(name.find("secret"), std::string::npos) << "followed a link to " << name;
    }
}

TEST(PayloadScan, RefusesADevice) {
    ScratchDirectory scratch;
    const std::string p = scratch / "payload";
    makePayload(p);
    // Making a device node needs root (CAP_MKNOD); the tests run as root.
    if (mknod((p + "/null").c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0 && errno == EPERM) {
        GTEST_SKIP() << "cannot make a device node without root";
    }
    const Payload payload = scanned(p);
    ASSERT_EQ(payload.problems.size(), 1u);
    EXPECT_NE(payload.problems[0].find("'" + p + "/null' is a character device"), std::string::npos)
        << payload.problems[0];
}

TEST(PayloadScan, ExclusionsLeaveOutWhatTheyMatchAndCountIt) {
    ScratchDirectory scratch;
    const std::string p = scratch / "payload";
    makePayload(p);
    makeDirectories(p + "/.git/objects");
    writeFile(p + "/.git/HEAD", "ref: refs/heads/main\n");
    // What an excluded folder holds is never looked at, so it cannot object.
    ASSERT_EQ(mkfifo((p + "/.git/fifo").c_str(), 0600), 0);
    writeFile(p + "/.DS_Store", "finder");
    writeFile(p + "/docs/.DS_Store", "finder");
    writeFile(p + "/docs/old.bak", "backup");
    writeFile(p + "/keep.bak", "kept: the pattern names a path below docs");
    struct Case {
        const char* what;
        ScanOptions options;
        std::vector<std::string> names;
        std::vector<size_t> filesAndFolders;  // per exclusion, in order
    } cases[] = {
        {"the defaults",
         {},
         {"PostProcess.cmd", "SETUP.EXE", "docs/", "docs/empty/", "docs/old.bak", "docs/readme.txt", "keep.bak"},
         {0, 1, 2, 0}},
        {"the defaults and two patterns",
         {{"docs/*.bak", "empty/"}, true, nullptr},
         {"PostProcess.cmd", "SETUP.EXE", "docs/", "docs/readme.txt", "keep.bak"},
         {0, 1, 2, 0, 1, 0, 0, 1}},
        {"no defaults",
         {{".git/fifo"}, false, nullptr},
         {".DS_Store", ".git/", ".git/HEAD", ".git/objects/", "PostProcess.cmd", "SETUP.EXE", "docs/", "docs/.DS_Store",
          "docs/empty/", "docs/old.bak", "docs/readme.txt", "keep.bak"},
         {1, 0}},
    };
    for (const Case& c : cases) {
        const Payload payload = scanned(p, c.options);
        EXPECT_EQ(namesOf(payload), c.names) << c.what;
        EXPECT_TRUE(payload.problems.empty()) << c.what << "\n" << joined(payload.problems);
        std::vector<size_t> counts;
        for (const Exclusion& exclusion : payload.exclusions) {
            counts.push_back(exclusion.files);
            counts.push_back(exclusion.folders);
        }
        EXPECT_EQ(counts, c.filesAndFolders) << c.what;
    }
}

TEST(PayloadFile, ASwapAfterTheScanIsRefusedNeverFollowedAndNeverWaitedOn) {
    const SpoiledCase cases[] = {
        {"a link to another file",
         [](const std::string& f, const std::string& s) {
             writeFile(s + "/other.txt", std::string(15, 'o'));
             unlink(f.c_str());
             symlink((s + "/other.txt").c_str(), f.c_str());
         },
         "is now a symbolic link"},
        {"a FIFO, which would block an ordinary open",
         [](const std::string& f, const std::string&) {
             unlink(f.c_str());
             mkfifo(f.c_str(), 0600);
         },
         "is no longer the file that was scanned"},
        {"another file of the same size",
         [](const std::string& f, const std::string&) {
             rename(f.c_str(), (f + ".scanned").c_str());
             writeFile(f, std::string(15, 'x'));
         },
         "is no longer the file that was scanned"},
        {"the same file grown", [](const std::string& f, const std::string&) { writeFile(f, std::string(5000, 'g')); },
         "is no longer the file that was scanned"},
        // The inode may be used again for a new file: its change time differs.
        {"removed and made again",
         [](const std::string& f, const std::string&) {
             unlink(f.c_str());
             writeFile(f, std::string(15, 'x'));
         },
         "is no longer the file that was scanned"},
    };
    for (const SpoiledCase& c : cases) {
        ScratchDirectory scratch;
        makePayload(scratch / "payload");
        const std::string file = scratch / "payload/docs/readme.txt";
        const Payload payload = scanned(scratch / "payload");
        c.spoil(file, scratch.path);

        const PayloadEntry* entry = nullptr;
        for (const PayloadEntry& candidate : payload.entries) {
            if (candidate.name == "docs/readme.txt") entry = &candidate;
        }
        ASSERT_NE(entry, nullptr);
        std::string error;
        EXPECT_EQ(openPayloadFile(*entry, error), -1) << c.what;
        EXPECT_NE(error.find("'" + file + "' " + c.expected), std::string::npos) << c.what << ": " << error;

        ArchiveWriteOptions options;
        options.password = packagePassword;
        error.clear();
        EXPECT_FALSE(writePackageArchive(payload, scratch / "package.zip", options, error)) << c.what;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.what << ": " << error;
        EXPECT_FALSE(exists(scratch / "package.zip")) << c.what;
    }
}
