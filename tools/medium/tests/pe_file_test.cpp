// Which files count as Windows PE programs.
#include <gtest/gtest.h>

#include "medium_test_support.h"
#include "pe_file.h"

using namespace medium_test;

TEST(PeImage, OnlyAnExecutableImageWithBothHeadersPasses) {
    std::string pointsOutside = peImage();
    pointsOutside[0x3c] = 0x7f;  // e_lfanew beyond the bytes
    std::string wrongSignature = peImage();
    wrongSignature[0x41] = 'X';
    struct Case {
        const char* what;
        std::string bytes;
        const char* expected;  // "" when accepted
    } cases[] = {
        {"a program", peImage(0x0102), ""},
        {"empty", "", "MZ"},
        {"a script", "#!/bin/sh\necho hi\n", "MZ"},
        {"a DOS stub only", std::string("MZ") + std::string(80, '\0'), "PE"},
        {"only MZ", "MZ", "too short"},
        {"pointer outside the file", pointsOutside, "outside"},
        {"wrong signature", wrongSignature, "no PE signature"},
        {"a DLL", peImage(0x2102), "DLL"},
        {"an object file, not an image", peImage(0x0100), "not marked as an executable"},
    };
    for (const Case& c : cases) EXPECT_TRUE(isProblem(peImageProblem(c.bytes), c.expected)) << c.what;
}

TEST(PeFile, ReadsTheFileAndExplainsWhatIsWrong) {
    ScratchDirectory scratch;
    writeFile(scratch / "setup.exe", fakeLauncher());
    writeFile(scratch / "notes.txt", "not a program");
    EXPECT_EQ(peFileProblem(scratch / "setup.exe"), "");
    EXPECT_NE(peFileProblem(scratch / "notes.txt"), "");
    EXPECT_NE(peFileProblem(scratch / "missing.exe").find("cannot be read"), std::string::npos);
    EXPECT_NE(peFileProblem(scratch.path), "");
}
