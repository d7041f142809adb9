// The Authenticode signature of a PE file, as far as the marker lines need
// it. Portable, so that it can be fuzzed natively: the bytes come from
// files anyone may have made.
//
// Signing appends the signature block (the attribute certificate table,
// holding one WIN_CERTIFICATE with a DER-encoded PKCS#7 SignedData) to the
// end of the file, so that marker lines written before signing end up more
// than the launcher's 256 bytes from the end, and lines written after it,
// outside the block, break the signature. Here the marker lines go into the
// signature itself: an unauthenticated attribute of the SignerInfo (which
// the signature does not cover, as a countersignature is added after
// signing), placed last so that its value, which ends with the lines, is the
// last bytes of the DER, of the block and of the file. The DER is made a
// multiple of 8 bytes long, so that no padding follows it: the block holds
// nothing but the PKCS#7, which is what Windows asks for where it checks
// the padding of signatures strictly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "markers.h"

// The object identifier of the marker attribute, 2.25.<UUID> (ITU-T X.667:
// a UUID made into an OID, no registration needed).
extern const char* const markerAttributeOid;

// What the headers and the signature block of a PE file say.
struct SignatureLayout {
    bool isPe = false;
    std::string peProblem;     // why the file is no PE image this can read, when !isPe
    bool isSigned = false;     // the certificate table's data directory entry is set
    uint64_t sectionsEnd = 0;  // end of the last section's raw data
    uint64_t tableOffset = 0;  // the certificate table, in the file
    uint64_t tableSize = 0;
    // What follows the table: signing tools leave nothing there, so these
    // bytes were appended after signing.
    uint64_t bytesAfterTable = 0;
    // Why the block cannot be read or rewritten here, or "": more than one
    // certificate, a table past the end of the file, not DER.
    std::string blockProblem;
    // Non-zero bytes, or 8 or more, after the PKCS#7 within its certificate
    // entry: what Windows refuses where it checks padding strictly.
    uint64_t bytesAfterSignature = 0;
    bool extraBytesAreZero = true;
    FileSpan signature;  // the PKCS#7's DER, when readable
    bool hasMarkerAttribute = false;
    FileSpan markerText;  // the marker lines in the attribute's value
};

SignatureLayout readSignatureLayout(const std::string& file);

// The signature's own bytes, which hold no marker lines but those of the
// marker attribute: where analyseTail need not look for lines.
std::vector<FileSpan> signatureOwnBytes(const SignatureLayout& layout);

// The tags of every marker line a launcher holds, in file order and each
// once: the lines behind the image (written before signing), those in the
// marker attribute, in the table behind the PKCS#7 and after the table.
std::vector<std::string> markerTagsOf(const std::string& file, const SignatureLayout& layout);

// `file` (signed; layout.blockProblem empty) with its marker attribute
// holding the lines of `tags` (none: no attribute), the signature block
// ending the file, the table's sizes and the PE checksum updated. Marker
// lines appended after the block are dropped (give their tags in `tags`);
// anything else there is refused. The signature stays valid: nothing it
// covers changes.
bool withSignatureMarkers(const std::string& file, const SignatureLayout& layout, const std::vector<std::string>& tags,
                          std::string& out, std::string& error);

// What a signing tool should sign: the file without its signature block
// (and what follows it), with the certificate table's entry cleared, and,
// with `dropMarkerLines`, without the marker lines behind the image (they go
// into the new signature's attribute instead). `layout` is the file's.
std::string imageForSigning(const std::string& file, const SignatureLayout& layout, bool dropMarkerLines);

// The PE checksum (what the optional header's CheckSum holds), over `file`
// with the field itself left out.
uint32_t peChecksum(const std::string& file, size_t checksumOffset);
// Where the CheckSum field is; 0 when the file is no PE image.
size_t peChecksumOffset(const std::string& file);
