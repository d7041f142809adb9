// package.zip as libzip writes it, read back by unzip.exe's own reader and
// by the check.
#include <cstdlib>

#include <gtest/gtest.h>

#include "archive_check.h"
#include "archive_writer.h"
#include "medium_test_support.h"
#include "package_password.h"
#include "payload.h"
#include "zip_archive.h"

using namespace medium_test;

namespace {

Payload scanned(const std::string& directory) {
    Payload payload;
    std::string error;
    if (!scanPayload(directory, payload, error)) ADD_FAILURE() << error;
    return payload;
}

bool write(const Payload& payload, const std::string& path, std::string& error, bool (*cancelled)() = nullptr) {
    ArchiveWriteOptions options;
    options.password = packagePassword;
    options.cancelled = cancelled;
    return writePackageArchive(payload, path, options, error);
}

}  // namespace

TEST(PackageArchive, TheExtractorsReaderGetsBackEveryFileWithThePassword) {
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
    // Larger than one read chunk of either side, and not compressible.
    writeFile(scratch / "payload/docs/data.bin", incompressibleBytes(300 * 1024));
    writeFile(scratch / "payload/empty.txt", "");
    std::string error;
    ASSERT_TRUE(write(scanned(scratch / "payload"), scratch / "package.zip", error)) << error;

    EXPECT_EQ(archiveContents(scratch / "package.zip", packagePassword), payloadContents(scratch / "payload"));

    const std::string bytes = readFile(scratch / "package.zip");
    const ArchiveInput input = memory_archive_input(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    std::vector<ZipEntry> entries;
    ASSERT_EQ(read_central_directory(input, entries), ZipStatus::ok);
    for (const ZipEntry& entry : entries) {
        EXPECT_TRUE(zip_entry_is_encrypted(entry)) << entry.name;
        if (!zip_entry_is_directory(entry) && entry.uncompressed_size > 0) {
            EXPECT_EQ(entry.method, 8) << entry.name;
        }
    }
    for (const ZipEntry& entry : entries) {
        if (zip_entry_is_directory(entry) || entry.uncompressed_size == 0) continue;
        const ZipStatus status = extract_entry(input, entry, "not-the-password",
                                               OutputSink{[](void*, const uint8_t*, size_t) { return true; }, nullptr});
        EXPECT_NE(status, ZipStatus::ok) << entry.name;
    }
}

TEST(PackageArchive, InfoZipUnzipAcceptsItToo) {
    if (std::system("command -v unzip >/dev/null 2>&1") != 0) GTEST_SKIP() << "Info-ZIP unzip is not installed";
    ScratchDirectory scratch;
    makePayload(scratch / "payload");
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
         [](const std::string& p) { writeFile(p + "/docs/readme.txt", std::string(5000, 'g')); }, "changed"},
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
    EXPECT_EQ(report.verified, payload.entries.size());
    EXPECT_EQ(report.files, payload.fileCount);
    EXPECT_EQ(report.bytes, payload.totalBytes);
    EXPECT_TRUE(report.hasSetupProgram);

    // Folders are encrypted too, so none of the entries opens.
    const ArchiveReport wrong = checkPackageArchive(scratch / "package.zip", "another-password", false);
    EXPECT_EQ(wrong.verified, 0u);
    EXPECT_EQ(wrong.problems.size(), payload.entries.size());
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
    EXPECT_NE(report.problems.back().find(std::to_string(payload.entries.size() - maxEntryProblemLines) + " more"),
              std::string::npos)
        << report.problems.back();
}
