// Marker lines inside an Authenticode signature: where they go, that the
// signature stays valid (checked by osslsigncode, an independent reader),
// and what is refused. The programs are signed by osslsigncode with a key
// made for each test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "authenticode.h"
#include "launcher/constants.h"
#include "little_endian.h"
#include "marking.h"
#include "medium_test_support.h"

using namespace medium_test;

namespace {

struct Signed {
    TestSigner signer;
    ScratchDirectory scratch;

    // `program` signed by osslsigncode as it comes.
    std::string sign(const std::string& program) {
        writeFile(scratch / "in.exe", program);
        std::remove((scratch / "out.exe").c_str());
        const ToolRun run = runProgram({"osslsigncode", "sign", "-certs", signer.certificate, "-key", signer.key, "-in",
                                        scratch / "in.exe", "-out", scratch / "out.exe"});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        return readFile(scratch / "out.exe");
    }
    // A stand-in launcher signed, then marked with msi.tag inside its
    // signature; "" when the marking fails.
    std::string signedWithMarkerInside() {
        const std::string original = sign(signableLauncher());
        std::string marked, error;
        EXPECT_TRUE(withSignatureMarkers(original, readSignatureLayout(original), {msiMarkerTag}, marked, error))
            << error;
        return marked;
    }
    // What osslsigncode verify says of `program`, and whether it passes.
    bool verifies(const std::string& program, std::string& report) {
        writeFile(scratch / "check.exe", program);
        int status = -1;
        report = osslsigncodeVerify(scratch / "check.exe", signer.certificate, status);
        return status == 0 && report.find("Signature verification: ok") != std::string::npos &&
               report.find("invalid PE checksum") == std::string::npos;
    }
};

const std::string msiLine = std::string(msiMarkerTag) + " \r\n";

std::string tailOf(const std::string& file) { return file.substr(file.size() - std::min(file.size(), markerScanSize)); }

// Where peProgram's certificate table entry is (PE32, data directory 4).
constexpr size_t certificateEntry = 0x84 + 20 + 96 + 4 * 8;
constexpr size_t checksumField = 0x84 + 20 + 64;

}  // namespace

TEST(SignatureMarkers, StandLastInTheSignatureWhichStaysValid) {
    Signed s;
    const std::string original = s.sign(signableLauncher());
    std::string report;
    ASSERT_TRUE(s.verifies(original, report)) << report;
    // osslsigncode's own PE checksum is the one this tool computes.
    EXPECT_EQ(readLittle32(original, checksumField), peChecksum(original, checksumField));

    const std::vector<std::vector<std::string>> tagSets = {
        {msiMarkerTag}, {msiMarkerTag, "product=demo"}, {std::string(200, 'x')}, {"a", "bb", "ccc", "dddd"}};
    for (const std::vector<std::string>& tags : tagSets) {
        std::string marked, error;
        ASSERT_TRUE(withSignatureMarkers(original, readSignatureLayout(original), tags, marked, error)) << error;
        EXPECT_TRUE(s.verifies(marked, report)) << tags.front() << "\n" << report;
        // The lines are the file's last bytes: no padding follows them.
        const std::string block = markerBlock(tags);
        EXPECT_EQ(marked.compare(marked.size() - block.size(), block.size(), block), 0) << tags.front();
        const SignatureLayout layout = readSignatureLayout(marked);
        EXPECT_EQ(layout.blockProblem, "");
        EXPECT_TRUE(layout.hasMarkerAttribute);
        EXPECT_EQ(layout.tableOffset + layout.tableSize, marked.size());
        EXPECT_EQ(layout.bytesAfterSignature, 0u);
        EXPECT_EQ(markerTagsOf(marked, layout), tags);
        const TailAnalysis analysis = analyseProgram(marked);
        for (const std::string& tag : tags) EXPECT_TRUE(launcherSeesTag(tailOf(marked), tag)) << tag;
        EXPECT_EQ(analysis.msiTagSeen, tags.front() == msiMarkerTag) << tags.front();
        ASSERT_EQ(analysis.markers.size(), tags.size()) << tags.front();

        // Without tags the attribute goes, and the signature is as signed.
        std::string cleared;
        ASSERT_TRUE(withSignatureMarkers(marked, layout, {}, cleared, error)) << error;
        EXPECT_EQ(cleared, original) << tags.front();
    }
}

TEST(SignatureMarkers, TheAttributeHasTheObjectIdentifierItClaims) {
    Signed s;
    const std::string marked = s.signedWithMarkerInside();
    ASSERT_FALSE(marked.empty());
    const SignatureLayout layout = readSignatureLayout(marked);
    writeFile(s.scratch / "signature.der",
              marked.substr(layout.signature.begin, layout.signature.end - layout.signature.begin));
    const ToolRun parsed = runProgram({"openssl", "asn1parse", "-inform", "DER", "-in", s.scratch / "signature.der"});
    EXPECT_EQ(parsed.status, 0) << parsed.err;
    EXPECT_TRUE(holds(parsed.out, std::string(":") + markerAttributeOid));
}

// However the lines came to a signed launcher, they are found, and marking
// it again puts them all inside the signature, which stays valid.
TEST(SignatureMarkers, AreFoundWhereverASignedLauncherHoldsThemAndMovedInside) {
    Signed s;
    const std::string launcher = signableLauncher();
    const std::string signedPlain = s.sign(launcher);
    const std::string signedAfterMarking = s.sign(launcher + msiLine);
    std::string inAttribute, error;
    ASSERT_TRUE(withSignatureMarkers(signedPlain, readSignatureLayout(signedPlain), {"other.tag"}, inAttribute, error));
    // The table grown by a line and its sizes updated, as one might by hand.
    std::string grown = signedPlain + msiLine;
    grown += std::string((8 - grown.size() % 8) % 8, '\0');
    const uint32_t grownSize = static_cast<uint32_t>(grown.size() - readLittle32(grown, certificateEntry));
    writeLittle(grown, certificateEntry + 4, grownSize, 4);
    writeLittle(grown, readLittle32(grown, certificateEntry), grownSize, 4);

    // A line behind the image and another in the signature.
    std::string bothPlaces;
    ASSERT_TRUE(withSignatureMarkers(signedAfterMarking, readSignatureLayout(signedAfterMarking), {"other.tag"},
                                     bothPlaces, error));

    struct Case {
        const char* what;
        std::string file;
        std::vector<std::string> tags;
        bool seenBefore;      // the launcher sees msi.tag as the file stands
        bool paddingProblem;  // what Windows refuses where it checks strictly
    } cases[] = {
        {"marked, then signed", signedAfterMarking, {msiMarkerTag}, false, false},
        {"signed, then a line appended", signedPlain + msiLine, {msiMarkerTag}, true, false},
        {"signed, a line written into the table", grown, {msiMarkerTag}, true, true},
        {"a line behind the image, another in the signature", bothPlaces, {msiMarkerTag, "other.tag"}, false, false},
        {"a line in the signature", inAttribute, {"other.tag"}, false, false},
    };
    for (const Case& c : cases) {
        const SignatureLayout layout = readSignatureLayout(c.file);
        EXPECT_EQ(layout.blockProblem, "") << c.what;
        EXPECT_EQ(markerTagsOf(c.file, layout), c.tags) << c.what;
        EXPECT_EQ(analyseProgram(c.file).msiTagSeen, c.seenBefore) << c.what;
        EXPECT_EQ(layout.bytesAfterSignature >= 8 || !layout.extraBytesAreZero, c.paddingProblem) << c.what;

        Marking marking;
        ASSERT_TRUE(markProgram(c.file, {msiMarkerTag}, marking, error)) << c.what << ": " << error;
        EXPECT_TRUE(marking.intoSignature) << c.what;
        // msi.tag is new only where the file held no line of it.
        const bool held = std::find(c.tags.begin(), c.tags.end(), msiMarkerTag) != c.tags.end();
        EXPECT_EQ(marking.added, held ? std::vector<std::string>{} : std::vector<std::string>{msiMarkerTag}) << c.what;
        EXPECT_EQ(marking.alreadyThere,
                  c.seenBefore ? std::vector<std::string>{msiMarkerTag} : std::vector<std::string>{})
            << c.what;
        std::string report;
        EXPECT_TRUE(s.verifies(marking.bytes, report)) << c.what << "\n" << report;
        const SignatureLayout after = readSignatureLayout(marking.bytes);
        EXPECT_EQ(after.bytesAfterTable + after.bytesAfterSignature, 0u) << c.what;
        for (const std::string& tag : c.tags) EXPECT_TRUE(launcherSeesTag(tailOf(marking.bytes), tag)) << c.what;
        EXPECT_TRUE(launcherSeesTag(tailOf(marking.bytes), msiMarkerTag)) << c.what;
    }
}

TEST(SignatureMarkers, AnUnsignedProgramGetsThemAppendedOnce) {
    const std::string launcher = signableLauncher();
    Marking first, again;
    std::string error;
    ASSERT_TRUE(markProgram(launcher, {msiMarkerTag, msiMarkerTag}, first, error)) << error;
    EXPECT_FALSE(first.intoSignature);
    EXPECT_EQ(first.bytes, launcher + msiLine);
    ASSERT_TRUE(markProgram(first.bytes, {msiMarkerTag}, again, error)) << error;
    EXPECT_EQ(again.bytes, first.bytes);
    EXPECT_EQ(again.alreadyThere, std::vector<std::string>{msiMarkerTag});
}

TEST(SignatureMarkers, TheImageToSignLeavesOutTheSignatureAndTheLinesBehindTheImage) {
    Signed s;
    const std::string launcher = signableLauncher();
    // A section whose own data ends like a marker line keeps it: only what
    // stands behind the sections is taken for lines.
    std::string body(4096, 'a');
    body.replace(body.size() - msiLine.size(), msiLine.size(), msiLine);
    const std::string lineInSection = peProgram(body);
    struct Case {
        const char* what;
        std::string file;
        std::string dropped;  // the image with the lines behind it left out
        std::string kept;     // the image as it stands
    } cases[] = {
        {"unsigned, marked", launcher + msiLine + "other \r\n", launcher, launcher + msiLine + "other \r\n"},
        {"unsigned, a line in the section", lineInSection + msiLine, lineInSection, lineInSection + msiLine},
        {"unsigned, no lines", launcher, launcher, launcher},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(imageForSigning(c.file, readSignatureLayout(c.file), true), c.dropped) << c.what;
        EXPECT_EQ(imageForSigning(c.file, readSignatureLayout(c.file), false), c.kept) << c.what;
    }
    // A signed one: its signature, the signing tool's padding and the lines go.
    const std::string signedAfterMarking = s.sign(launcher + msiLine);
    const std::string image = imageForSigning(signedAfterMarking, readSignatureLayout(signedAfterMarking), true);
    EXPECT_EQ(image.size(), launcher.size());
    EXPECT_EQ(image.substr(checksumField + 4), launcher.substr(checksumField + 4)) << "all but the checksum";
    EXPECT_FALSE(readSignatureLayout(image).isSigned);
}

// Blocks this tool cannot rewrite are named, and nothing is made of them.
TEST(SignatureBlocks, ThatCannotBeRewrittenAreRefusedWithTheReason) {
    Signed s;
    const std::string original = s.sign(signableLauncher());
    const size_t table = readLittle32(original, certificateEntry);
    const auto withTableSize = [&](std::string file, uint32_t size) {
        writeLittle(file, certificateEntry + 4, size, 4);
        return file;
    };
    std::string twoEntries = original + original.substr(table);
    writeLittle(twoEntries, certificateEntry + 4, static_cast<uint32_t>(twoEntries.size() - table), 4);
    std::string x509Type = original;
    x509Type[table + 6] = 1;
    std::string indefinite = original;
    indefinite[table + 9] = static_cast<char>(0x80);  // the ContentInfo's length: indefinite (BER)
    struct Case {
        const char* what;
        std::string file;
        const char* problem;  // in blockProblem, or "" with a refusal from withSignatureMarkers only
    } cases[] = {
        {"a table past the end", withTableSize(original, static_cast<uint32_t>(original.size() - table + 8)),
         "runs past the end of the file"},
        {"two certificates", twoEntries, "holds 2 certificate entries"},
        {"an X.509 certificate, no signature", x509Type, "not a PKCS#7 signature"},
        {"no DER", indefinite, "not a PKCS#7 SignedData in DER"},
        {"data appended after signing", original + std::string(100, '\x82'), ""},
    };
    for (const Case& c : cases) {
        const SignatureLayout layout = readSignatureLayout(c.file);
        EXPECT_TRUE(layout.isSigned) << c.what;
        EXPECT_NE(layout.blockProblem.find(c.problem), std::string::npos) << c.what << ": " << layout.blockProblem;
        std::string out, error;
        EXPECT_FALSE(withSignatureMarkers(c.file, layout, {msiMarkerTag}, out, error)) << c.what;
        EXPECT_NE(error, "") << c.what;
        Marking marking;
        EXPECT_FALSE(markProgram(c.file, {msiMarkerTag}, marking, error)) << c.what;
    }
    // What follows the signature is counted, and is never taken for lines.
    const SignatureLayout appended = readSignatureLayout(original + std::string(100, '\x82'));
    EXPECT_EQ(appended.bytesAfterTable, 100u);
}

// The signature's own bytes are never read as marker lines, whatever they
// hold; the launcher's view of the window is the file as it is.
TEST(SignatureMarkers, OnlyTheMarkerAttributeOfASignatureHoldsLines) {
    Signed s;
    const std::string marked = s.signedWithMarkerInside();
    ASSERT_FALSE(marked.empty());
    const SignatureLayout layout = readSignatureLayout(marked);
    const std::vector<FileSpan> own = signatureOwnBytes(layout);
    ASSERT_EQ(own.size(), 2u);
    EXPECT_EQ(own[0].begin, layout.signature.begin);
    EXPECT_EQ(own[0].end, layout.markerText.begin);
    EXPECT_EQ(own[1].begin, layout.markerText.end);
    EXPECT_EQ(layout.markerText.end, marked.size());
    EXPECT_EQ(marked.substr(layout.markerText.begin), msiLine);

    // A line-like run in the signature's bytes: found by a plain search, not here.
    std::string spoof = marked;
    const std::string fake = "fake.tag \r\n";
    spoof.replace(layout.signature.begin + 300, fake.size(), fake);
    const std::string tail = tailOf(spoof);
    size_t plain = 0;
    for (const MarkerFinding& marker : analyseTail(tail, spoof.size()).markers) plain += marker.tag == "fake.tag";
    EXPECT_EQ(plain, 1u);
    const TailAnalysis masked = analyseTail(tail, spoof.size(), own);
    ASSERT_EQ(masked.markers.size(), 1u);
    EXPECT_EQ(masked.markers[0].tag, msiMarkerTag);
    EXPECT_TRUE(masked.msiTagSeen);
}
