// package.zip as libzip writes it, read back by unzip.exe's own reader and
// by the check.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>

#include <gtest/gtest.h>

#include "archive_check.h"
#include "archive_writer.h"
#include "medium_test_support.h"
#include "package_password.h"
#include "payload.h"
#include "zip_reader_containers.h"

using namespace medium_test;

namespace {

Payload scanned(const std::string& directory) {
    Payload payload;
    std::string error;
    if (!scanPayload(directory, ScanOptions{}, payload, error)) ADD_FAILURE() << error;
    for (const std::string& problem : payload.problems) ADD_FAILURE() << problem;
    return payload;
}

bool write(const Payload& payload, const std::string& path, std::string& error, bool (*cancelled)() = nullptr) {
    ArchiveWriteOptions options;
    options.password = packagePassword;
    options.cancelled = cancelled;
    return writePackageArchive(payload, path, options, error);
}

bool writeClamped(const Payload& payload, const std::string& path, time_t latest, std::string& error) {
    ArchiveWriteOptions options;
    options.password = packagePassword;
    options.clampTimes = true;
    options.latestTime = latest;
    return writePackageArchive(payload, path, options, error);
}

void setTime(const std::string& path, time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// 2020-01-01 10:00:00 UTC: a payload folder as old as most real ones.
constexpr time_t yearsAgo = 1577872800;

}  // namespace

TEST(PackageArchive, TheExtractorsReaderGetsBackEveryFileWithThePassword) {
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
    // Larger than one read chunk of either side, and not compressible.
    writeFile(scratch / "payload/docs/data.bin", incompressibleBytes(300 * 1024));
    writeFile(scratch / "payload/empty.txt", "");
    std::string log;
    for (int line = 0; line < 4000; ++line) log += "2026-12-09 INFO request " + std::to_string(line % 7) + " done\n";
    writeFile(scratch / "payload/docs/log.txt", log);
    writeFile(scratch / "payload/docs/tiny.ini", "a=1\n");
    std::string error;
    ASSERT_TRUE(write(scanned(scratch / "payload"), scratch / "package.zip", error)) << error;

    EXPECT_EQ(archiveContents(scratch / "package.zip", packagePassword), payloadContents(scratch / "payload"));
    // Each file in the smaller form: deflated (8) where that is smaller, else
    // stored (0), as incompressible and tiny files are.
    const std::map<std::string, uint16_t> methods = {
        {"docs/data.bin", 0}, {"empty.txt", 0}, {"docs/log.txt", 8}, {"docs/tiny.ini", 0}};

    const std::string bytes = readFile(scratch / "package.zip");
    const ArchiveInput input = memoryArchiveInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ZipDirectory directory;
    ASSERT_EQ(readZipDirectory(input, directory), ZipStatus::ok);
    size_t methodsSeen = 0;
    for (const ZipEntry& entry : directory.entries) {
        const std::string name = entryNameText(entry);
        if (zipEntryIsDirectory(entry)) {
            // As `zip -P` stores a folder: no data, nothing to decrypt.
            EXPECT_FALSE(zipEntryIsEncrypted(entry)) << name;
            EXPECT_EQ(entry.method, 0) << name;
            EXPECT_EQ(entry.compressedSize, 0u) << name;
            continue;
        }
        EXPECT_TRUE(zipEntryIsEncrypted(entry)) << name;
        if (methods.count(name) != 0) {
            EXPECT_EQ(entry.method, methods.at(name)) << name;
            ++methodsSeen;
        }
        // Data and the 12-byte encryption header; never more than stored.
        if (entry.method == 0) {
            EXPECT_EQ(entry.compressedSize, entry.uncompressedSize + 12) << name;
        } else {
            EXPECT_EQ(entry.method, 8) << name;
            EXPECT_LT(entry.compressedSize, entry.uncompressedSize + 12) << name;
        }
        if (entry.uncompressedSize == 0) continue;
        const ZipStatus status = extractEntry(input, entry, "not-the-password",
                                              OutputSink{[](void*, const uint8_t*, size_t) { return true; }, nullptr});
        EXPECT_NE(status, ZipStatus::ok) << name;
    }
    EXPECT_EQ(methodsSeen, methods.size());
}

TEST(PackageArchive, EntryTimesAreDosFieldsWithinWhatTheyCanHold) {
    struct Case {
        time_t when;
        uint16_t date;
        uint16_t time;
    } cases[] = {
        {yearsAgo, (40 << 9) | (1 << 5) | 1, (10 << 11)},
        {yearsAgo + 59, (40 << 9) | (1 << 5) | 1, (10 << 11) | 29},              // two-second steps
        {0, (0 << 9) | (1 << 5) | 1, 0},                                         // 1970: before DOS time
        {4354819200, (127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},  // 2108: after it
    };
    for (const Case& c : cases) {
        const DosDateTime dos = dosDateTime(c.when, true);
        EXPECT_EQ(dos.date, c.date) << c.when;
        EXPECT_EQ(dos.time, c.time) << c.when;
    }
}

TEST(PackageArchive, TheSamePayloadGivesTheSameBytesOnceTimesAreClamped) {
    ScratchDirectory scratch;
    makePayload(scratch / "one");
    writeFile(scratch / "one/docs/data.bin", incompressibleBytes(100 * 1024));
    const time_t epoch = yearsAgo;
    std::string error;
    ASSERT_TRUE(writeClamped(scanned(scratch / "one"), scratch / "one.zip", epoch, error)) << error;

    // The same files made again elsewhere, later, in another order.
    makeDirectories(scratch / "two/docs/empty");
    writeFile(scratch / "two/docs/data.bin", incompressibleBytes(100 * 1024));
    writeFile(scratch / "two/PostProcess.cmd", readFile(scratch / "one/PostProcess.cmd"));
    writeFile(scratch / "two/docs/readme.txt", readFile(scratch / "one/docs/readme.txt"));
    writeFile(scratch / "two/SETUP.EXE", readFile(scratch / "one/SETUP.EXE"));
    ASSERT_TRUE(writeClamped(scanned(scratch / "two"), scratch / "two.zip", epoch, error)) << error;
    EXPECT_EQ(readFile(scratch / "one.zip"), readFile(scratch / "two.zip"));

    // A file older than the epoch keeps its own time, so it shows.
    setTime(scratch / "two/docs/readme.txt", epoch - 3600);
    ASSERT_TRUE(writeClamped(scanned(scratch / "two"), scratch / "older.zip", epoch, error)) << error;
    EXPECT_NE(readFile(scratch / "one.zip"), readFile(scratch / "older.zip"));
    EXPECT_EQ(archiveContents(scratch / "older.zip", packagePassword), payloadContents(scratch / "one"));
}

// Each entry keeps its time to the second in its extended timestamp, 1901 to
// 2106; a time outside is packed as the nearer end, and both build and check
// say so. (This file system keeps 1850 as 1901-12-13 20:45:52 already.)
TEST(PackageArchive, EachEntryKeepsItsTimeInItsTimestamp) {
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
    const std::vector<std::pair<std::string, time_t>> times = {
        {"docs/1975.txt", 170856001},  {"docs/2001.txt", 981173107},   {"docs/2040.txt", 2208988803},
        {"docs/2150.txt", 5680281600}, {"docs/1850.txt", -3786825600}, {"docs/", 946684799},
    };
    for (const auto& [name, when] : times) {
        if (name.back() != '/') writeFile(scratch / ("payload/" + name), name);
    }
    for (const auto& [name, when] : times) setTime(scratch / ("payload/" + name), when);
    std::string error;
    ASSERT_TRUE(write(scanned(scratch / "payload"), scratch / "package.zip", error)) << error;

    const std::string bytes = readFile(scratch / "package.zip");
    const ArchiveInput input = memoryArchiveInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ZipDirectory directory;
    ASSERT_EQ(readZipDirectory(input, directory), ZipStatus::ok);
    std::map<std::string, int64_t> packed;
    for (const ZipEntry& entry : directory.entries) {
        EXPECT_TRUE(entry.hasUnixTime) << entryNameText(entry);
        packed[entryNameText(entry)] = entry.unixTime;
    }
    for (const auto& [name, when] : times) EXPECT_EQ(packed[name], archiveTime(when)) << name;
    EXPECT_EQ(packed["docs/2150.txt"], latestArchiveTime);
    EXPECT_EQ(packed["docs/1850.txt"], earliestArchiveTime);

    EXPECT_EQ(archiveTimeWarning(5680281600),
              "dated 2150-01-01 00:00:00 UTC; package.zip holds times from 1901-12-13 20:45:52 UTC to "
              "2106-02-07 06:28:15 UTC, so it is packed as 2106-02-07 06:28:15 UTC");
    EXPECT_EQ(archiveTimeWarning(2208988803), "");
    std::vector<std::string> clamped;
    for (const std::string& warning : checkPackageArchive(scratch / "package.zip", packagePassword, false).warnings) {
        if (warning.find("was moved to it") != std::string::npos) clamped.push_back(warning);
    }
    EXPECT_EQ(clamped, (std::vector<std::string>{
                           "'docs/1850.txt': dated 1901-12-13 20:45:52 UTC, the earliest time an entry can hold; the "
                           "file's own time was probably outside and was moved to it",
                           "'docs/2150.txt': dated 2106-02-07 06:28:15 UTC, the latest time an entry can hold; the "
                           "file's own time was probably outside and was moved to it"}));
}

// The zip64 form, here forced on small data: every reader still reads it
// (unzip.exe's, libzip in check, Info-ZIP unzip). Without force, an archive
// that needs none has none.
TEST(PackageArchive, TheZip64FormReadsBackEverywhere) {
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
    writeFile(scratch / "payload/docs/data.bin", incompressibleBytes(300 * 1024));
    const Payload payload = scanned(scratch / "payload");
    std::string error;
    ASSERT_TRUE(write(payload, scratch / "plain.zip", error)) << error;
    EXPECT_EQ(readFile(scratch / "plain.zip").find(std::string("PK\x06\x06", 4)), std::string::npos);

    ArchiveWriteOptions options;
    options.password = packagePassword;
    options.zip64Everywhere = true;
    ASSERT_TRUE(writePackageArchive(payload, scratch / "package.zip", options, error)) << error;
    const std::string bytes = readFile(scratch / "package.zip");
    EXPECT_NE(bytes.find(std::string("PK\x06\x06", 4)), std::string::npos);
    EXPECT_EQ(archiveContents(scratch / "package.zip", packagePassword), payloadContents(scratch / "payload"));
    EXPECT_EQ(extractorDirectoryProblem(scratch / "package.zip"), "");
    const ArchiveReport report = checkPackageArchive(scratch / "package.zip", packagePassword, false);
    EXPECT_TRUE(report.problems.empty()) << report.problems.front();
    EXPECT_EQ(report.verified, payload.fileCount);
    if (std::system("command -v unzip >/dev/null 2>&1") == 0) {
        const std::string test = "unzip -qq -t -P '" + std::string(packagePassword) + "' " + scratch / "package.zip";
        EXPECT_EQ(std::system((test + " >/dev/null 2>&1").c_str()), 0);
    }
}

// More entries than the end record counts: a zip64 end record, and no
// entry in the zip64 form, since none needs it.
TEST(PackageArchive, MoreThan65534EntriesGetAZip64EndRecordOnly) {
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
    const size_t extra = 65600;
    for (size_t i = 0; i < extra; ++i) {
        writeFile(scratch / ("payload/docs/d" + std::to_string(i % 50) + "/" + std::to_string(i)), "");
    }
    const Payload payload = scanned(scratch / "payload");
    ASSERT_GT(payload.entries.size(), 65535u);
    std::string error;
    ASSERT_TRUE(write(payload, scratch / "package.zip", error)) << error;
    const std::string bytes = readFile(scratch / "package.zip");
    EXPECT_NE(bytes.find(std::string("PK\x06\x06", 4)), std::string::npos);
    EXPECT_EQ(bytes.find(std::string("\x01\x00\x10\x00", 4)), std::string::npos) << "an entry in the zip64 form";
    const ArchiveInput input = memoryArchiveInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ZipDirectory directory;
    ASSERT_EQ(readZipDirectory(input, directory), ZipStatus::ok);
    EXPECT_EQ(directory.entries.size(), payload.entries.size());
    const ArchiveReport report = checkPackageArchive(scratch / "package.zip", packagePassword, false);
    EXPECT_TRUE(report.problems.empty()) << report.problems.front();
    EXPECT_EQ(report.entries.size(), payload.entries.size());
}

TEST(PackageArchive, InfoZipUnzipAcceptsItToo) {
    if (std::system("command -v unzip >/dev/null 2>&1") != 0) GTEST_SKIP() << "Info-ZIP unzip is not installed";
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
    // Stored entries beside deflated ones: incompressible, tiny and empty files.
    writeFile(scratch / "payload/docs/data.bin", incompressibleBytes(300 * 1024));
    writeFile(scratch / "payload/docs/tiny.ini", "a=1\n");
    writeFile(scratch / "payload/empty.txt", "");
    std::string error;
    ASSERT_TRUE(write(scanned(scratch / "payload"), scratch / "package.zip", error)) << error;
    const std::string test = "unzip -qq -t -P '" + std::string(packagePassword) + "' " + scratch / "package.zip";
    EXPECT_EQ(std::system((test + " >/dev/null 2>&1").c_str()), 0);
}

TEST(PackageArchive, AFailedOrInterruptedWriteLeavesNoArchive) {
    ScratchDirectory scratch;
    struct Case {
        const char* what;
        bool (*cancelled)();
        void (*spoil)(const std::string& payload);
        const char* expected;
    } cases[] = {
        {"interrupted", [] { return true; }, [](const std::string&) {}, "interrupted"},
        {"a file removed after the scan", nullptr,
         [](const std::string& p) { std::remove((p + "/docs/data.bin").c_str()); }, "docs/data.bin"},
        {"a file that grew after the scan", nullptr,
         [](const std::string& p) { writeFile(p + "/docs/readme.txt", std::string(5000, 'g')); }, "no longer the file"},
    };
    for (const Case& c : cases) {
        makePayload(scratch / "payload");
        writeFile(scratch / "payload/docs/data.bin", incompressibleBytes(64 * 1024));
        const Payload payload = scanned(scratch / "payload");
        c.spoil(scratch / "payload");
        std::string error;
        EXPECT_FALSE(write(payload, scratch / "package.zip", error, c.cancelled)) << c.what;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(listDirectory(scratch.path), std::vector<std::string>{"payload"}) << c.what;
    }
}

TEST(PackageArchive, AnExistingArchiveIsNotOverwritten) {
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
    writeFile(scratch / "package.zip", "keep me");
    std::string error;
    EXPECT_FALSE(write(scanned(scratch / "payload"), scratch / "package.zip", error));
    EXPECT_EQ(readFile(scratch / "package.zip"), "keep me");
}

TEST(PackageArchiveCheck, VerifiesEveryEntryAndFindsSetupAndScript) {
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
    std::string error;
    const Payload payload = scanned(scratch / "payload");
    ASSERT_TRUE(write(payload, scratch / "package.zip", error)) << error;
    const ArchiveReport report = checkPackageArchive(scratch / "package.zip", packagePassword, false);
    EXPECT_TRUE(report.problems.empty()) << report.problems.front();
    EXPECT_EQ(report.entries.size(), payload.entries.size());
    EXPECT_EQ(report.verified, payload.fileCount);
    EXPECT_EQ(report.files, payload.fileCount);
    EXPECT_EQ(report.bytes, payload.totalBytes);
    EXPECT_TRUE(report.hasSetupProgram);

    // Every file is encrypted and holds data, so with another password none
    // opens: the check byte lets 2 in 256 through (libzip accepts both the
    // CRC's and the time's byte), and the data then fails to inflate or to
    // match its CRC. Folders hold no data and are not encrypted.
    EXPECT_EQ(report.encrypted, payload.fileCount);
    const ArchiveReport wrong = checkPackageArchive(scratch / "package.zip", "another-password", false);
    EXPECT_EQ(wrong.verified, 0u);
    EXPECT_EQ(wrong.encrypted, payload.fileCount);
    EXPECT_EQ(wrong.problems.size(), payload.fileCount);
}

TEST(PackageArchiveCheck, FoldersOfAnyTimeAreNoProblem) {
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
    for (const char* folder : {"docs", "docs/empty"}) {
        for (time_t when : {yearsAgo, time_t{0}, yearsAgo + 7 * 3600 + 1234}) {
            setTime(scratch / ("payload/" + std::string(folder)), when);
            std::remove((scratch / "package.zip").c_str());
            std::string error;
            ASSERT_TRUE(write(scanned(scratch / "payload"), scratch / "package.zip", error)) << error;
            const ArchiveReport report = checkPackageArchive(scratch / "package.zip", packagePassword, false);
            EXPECT_TRUE(report.problems.empty()) << folder << " " << when << ": " << report.problems.front();
            EXPECT_EQ(report.verified, report.encrypted);
        }
    }
}

TEST(PackageArchiveCheck, ASetupProgramThatIsNoProgramIsAProblem) {
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
    writeFile(scratch / "payload/SETUP.EXE", "");
    std::string error;
    ASSERT_TRUE(write(scanned(scratch / "payload"), scratch / "package.zip", error)) << error;
    const ArchiveReport report = checkPackageArchive(scratch / "package.zip", packagePassword, false);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find("SETUP.EXE is not a Windows program"), std::string::npos);
}

TEST(PackageArchiveCheck, TooManyEntryProblemsAreCountedNotListed) {
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
    const size_t extra = maxEntryProblemLines + 5;
    for (size_t i = 0; i < extra; ++i) writeFile(scratch / ("payload/docs/f" + std::to_string(i)), "data");
    std::string error;
    const Payload payload = scanned(scratch / "payload");
    ASSERT_TRUE(write(payload, scratch / "package.zip", error)) << error;
    const ArchiveReport report = checkPackageArchive(scratch / "package.zip", "another-password", false);
    ASSERT_EQ(report.problems.size(), maxEntryProblemLines + 1);
    EXPECT_NE(report.problems.back().find(std::to_string(payload.fileCount - maxEntryProblemLines) + " more"),
              std::string::npos)
        << report.problems.back();
}
