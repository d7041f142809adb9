#include "authenticode.h"

#include <algorithm>
#include <cstring>

#include "der.h"
#include "little_endian.h"
#include "markers.h"
#include "pe_file.h"

const char* const markerAttributeOid = "2.25.181851530011564572757839026154968300688";

namespace {

// PE format offsets.
constexpr size_t optionalHeaderStart = peSignatureSize + coffHeaderSize;
constexpr uint16_t pe32Magic = 0x10b;
constexpr uint16_t pe32PlusMagic = 0x20b;
constexpr size_t checksumFieldOffset = 64;  // within the optional header, both formats
constexpr size_t sectionHeaderSize = 40;
constexpr size_t certificateDirectoryIndex = 4;
constexpr size_t dataDirectoryEntrySize = 8;
constexpr size_t certificateHeaderSize = 8;  // WIN_CERTIFICATE: dwLength, wRevision, wCertificateType
constexpr uint16_t pkcsSignedDataType = 2;
constexpr size_t certificateAlignment = 8;

// DER tags of the frame around the SignerInfo.
constexpr uint8_t explicitZero = 0xa0;
constexpr uint8_t unauthenticatedAttributes = 0xa1;
// 1.2.840.113549.1.7.2, PKCS#7 signedData.
constexpr char signedDataOid[] = "\x2a\x86\x48\x86\xf7\x0d\x01\x07\x02";
constexpr size_t signedDataOidSize = sizeof signedDataOid - 1;

uint64_t alignedUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// The dotted OID's DER content bytes; the arcs may be longer than 64 bits
// (a UUID is 128), so each is divided down in decimal.
std::string encodeOid(const char* dotted) {
    std::vector<std::string> arcs(1);
    for (const char* c = dotted; *c != '\0'; ++c) {
        if (*c == '.') {
            arcs.emplace_back();
        } else {
            arcs.back() += *c;
        }
    }
    std::string out(1, static_cast<char>(std::stoi(arcs[0]) * 40 + std::stoi(arcs[1])));
    for (size_t i = 2; i < arcs.size(); ++i) {
        std::string decimal = arcs[i];
        std::string groups;  // base-128 digits, lowest first
        while (decimal != "0" && !decimal.empty()) {
            std::string quotient;
            unsigned remainder = 0;
            for (char digit : decimal) {
                remainder = remainder * 10 + static_cast<unsigned>(digit - '0');
                if (!quotient.empty() || remainder / 128 != 0) quotient += static_cast<char>('0' + remainder / 128);
                remainder %= 128;
            }
            groups += static_cast<char>(remainder);
            decimal = quotient.empty() ? "0" : quotient;
        }
        if (groups.empty()) groups += '\0';
        for (size_t g = groups.size(); g > 0; --g) out += static_cast<char>(groups[g - 1] | (g > 1 ? 0x80 : 0));
    }
    return out;
}

const std::string& markerOidBytes() {
    static const std::string bytes = encodeOid(markerAttributeOid);
    return bytes;
}

std::string encodedLength(size_t length) {
    if (length < 0x80) return std::string(1, static_cast<char>(length));
    std::string digits;
    for (size_t rest = length; rest != 0; rest >>= 8) digits.insert(digits.begin(), static_cast<char>(rest & 0xff));
    return static_cast<char>(0x80 | digits.size()) + digits;
}

std::string encoded(uint8_t tag, const std::string& content) {
    return static_cast<char>(tag) + encodedLength(content.size()) + content;
}

// The elements from the ContentInfo down to the SignerInfo, each the last
// of its parent, so that they all end where the signature ends: what
// changes in the SignerInfo's last element changes only their lengths.
struct SignerFrame {
    std::vector<Tlv> path;        // ContentInfo, [0], SignedData, SignerInfos, SignerInfo
    std::vector<Tlv> attributes;  // of the unauthenticated attributes, when there are any
    size_t signerPrefixEnd = 0;   // where the SignerInfo's unauthenticated attributes begin (or its end)
};

bool isLastChild(const std::vector<Tlv>& children, const Tlv& parent) {
    return !children.empty() && children.back().end == parent.end;
}

bool locateSignerFrame(const std::string& bytes, size_t begin, size_t limit, SignerFrame& frame, Tlv& whole,
                       std::string& problem) {
    problem = "the signature is not a PKCS#7 SignedData in DER that this tool can read";
    Tlv contentInfo;
    if (!readTlv(bytes, begin, limit, contentInfo) || contentInfo.tag != derSequence) return false;
    whole = contentInfo;
    std::vector<Tlv> children;
    if (!childrenOf(bytes, contentInfo, children) || children.size() != 2 || children[0].tag != derOid ||
        bytes.compare(children[0].contentStart, children[0].end - children[0].contentStart, signedDataOid,
                      signedDataOidSize) != 0 ||
        children[1].tag != explicitZero) {
        return false;
    }
    const Tlv wrapper = children[1];
    if (!childrenOf(bytes, wrapper, children) || children.size() != 1 || children[0].tag != derSequence) return false;
    const Tlv signedData = children[0];
    if (!childrenOf(bytes, signedData, children) || !isLastChild(children, signedData) ||
        children.back().tag != derSet) {
        return false;
    }
    const Tlv signerInfos = children.back();
    if (!childrenOf(bytes, signerInfos, children) || !isLastChild(children, signerInfos) ||
        children.back().tag != derSequence) {
        return false;
    }
    const Tlv signerInfo = children.back();
    if (!childrenOf(bytes, signerInfo, children) || children.empty()) return false;
    frame.path = {contentInfo, wrapper, signedData, signerInfos, signerInfo};
    frame.attributes.clear();
    frame.signerPrefixEnd = signerInfo.end;
    if (children.back().tag == unauthenticatedAttributes) {
        frame.signerPrefixEnd = children.back().start;
        if (!childrenOf(bytes, children.back(), frame.attributes)) return false;
        for (const Tlv& attribute : frame.attributes) {
            if (attribute.tag != derSequence) return false;
        }
    }
    problem.clear();
    return true;
}

// The attribute's value when it is the marker attribute: its single
// OCTET STRING.
bool markerAttributeValue(const std::string& bytes, const Tlv& attribute, Tlv& value) {
    std::vector<Tlv> parts;
    if (!childrenOf(bytes, attribute, parts) || parts.size() != 2 || parts[0].tag != derOid ||
        bytes.compare(parts[0].contentStart, parts[0].end - parts[0].contentStart, markerOidBytes()) != 0 ||
        parts[1].tag != derSet) {
        return false;
    }
    std::vector<Tlv> values;
    if (!childrenOf(bytes, parts[1], values) || values.size() != 1 || values[0].tag != derOctetString) return false;
    value = values[0];
    return true;
}

// The signature with the SignerInfo's unauthenticated attributes replaced by
// `attributes` (encoded, in order; none: no such element).
std::string rebuiltSignature(const std::string& bytes, const SignerFrame& frame, const std::string& attributes) {
    const Tlv& signerInfo = frame.path.back();
    std::string signerContent = bytes.substr(signerInfo.contentStart, frame.signerPrefixEnd - signerInfo.contentStart);
    if (!attributes.empty()) signerContent += encoded(unauthenticatedAttributes, attributes);
    std::string element = encoded(signerInfo.tag, signerContent);
    for (size_t level = frame.path.size() - 1; level > 0; --level) {
        const Tlv& parent = frame.path[level - 1];
        const Tlv& child = frame.path[level];
        std::string content = bytes.substr(parent.contentStart, child.start - parent.contentStart);
        content += element;
        element = encoded(parent.tag, content);
    }
    return element;
}

struct PeHeaders {
    size_t checksumOffset = 0;
    size_t certificateEntryOffset = 0;
    uint64_t sectionsEnd = 0;
};

bool readPeHeaders(const std::string& file, PeHeaders& headers, std::string& problem) {
    if (file.size() < peHeaderPointerOffset + 4 || file.compare(0, 2, "MZ") != 0) {
        problem = "no \"MZ\" header";
        return false;
    }
    const uint64_t pe = readLittle32(file, peHeaderPointerOffset);
    if (pe > file.size() || file.size() - pe < optionalHeaderStart + 2 ||
        file.compare(static_cast<size_t>(pe), peSignatureSize, std::string(peSignature, peSignatureSize)) != 0) {
        problem = "no PE signature";
        return false;
    }
    const size_t coff = static_cast<size_t>(pe) + peSignatureSize;
    const size_t sections = readLittle16(file, coff + 2);
    const size_t optionalSize = readLittle16(file, coff + 16);
    const size_t optional = static_cast<size_t>(pe) + optionalHeaderStart;
    const uint16_t magic = readLittle16(file, optional);
    if (magic != pe32Magic && magic != pe32PlusMagic) {
        problem = "an optional header of an unknown kind";
        return false;
    }
    const size_t countOffset = optional + (magic == pe32Magic ? 92 : 108);
    const size_t directories = optional + (magic == pe32Magic ? 96 : 112);
    const size_t certificateEntry = directories + certificateDirectoryIndex * dataDirectoryEntrySize;
    if (optionalSize < certificateEntry + dataDirectoryEntrySize - optional || file.size() < optional + optionalSize ||
        readLittle32(file, countOffset) <= certificateDirectoryIndex) {
        problem = "an optional header too short for a certificate table";
        return false;
    }
    const size_t sectionTable = optional + optionalSize;
    if (file.size() - sectionTable < sections * sectionHeaderSize) {
        problem = "a section table past the end of the file";
        return false;
    }
    headers.sectionsEnd = 0;
    for (size_t i = 0; i < sections; ++i) {
        const size_t header = sectionTable + i * sectionHeaderSize;
        const uint64_t rawSize = readLittle32(file, header + 16);
        const uint64_t rawStart = readLittle32(file, header + 20);
        if (rawSize != 0) headers.sectionsEnd = std::max(headers.sectionsEnd, rawStart + rawSize);
    }
    headers.checksumOffset = optional + checksumFieldOffset;
    headers.certificateEntryOffset = certificateEntry;
    return true;
}

bool allZero(const std::string& bytes, uint64_t begin, uint64_t end) {
    for (uint64_t i = begin; i < end; ++i) {
        if (bytes[static_cast<size_t>(i)] != '\0') return false;
    }
    return true;
}

// The certificate entry of the table: exactly one, a PKCS#7 signature.
bool readCertificateEntry(const std::string& file, SignatureLayout& layout, size_t& entry, size_t& entryEnd) {
    const uint64_t tableEnd = layout.tableOffset + layout.tableSize;
    size_t count = 0;
    for (uint64_t at = layout.tableOffset; tableEnd - at >= certificateHeaderSize;) {
        const uint32_t length = readLittle32(file, static_cast<size_t>(at));
        if (length < certificateHeaderSize || length > tableEnd - at) {
            layout.blockProblem = "a certificate entry of the signature table has a wrong length";
            return false;
        }
        ++count;
        entry = static_cast<size_t>(at);
        entryEnd = static_cast<size_t>(at + length);
        at += alignedUp(length, certificateAlignment);
        if (at > tableEnd) break;
    }
    if (count != 1) {
        layout.blockProblem =
            "the signature table holds " + std::to_string(count) + " certificate entries; this tool handles one";
        return false;
    }
    const uint32_t type = readLittle16(file, entry + 6);
    if (type != pkcsSignedDataType) {
        layout.blockProblem =
            "the signature table holds a certificate of type " + std::to_string(type) + ", not a PKCS#7 signature";
        return false;
    }
    return true;
}

}  // namespace

size_t peChecksumOffset(const std::string& file) {
    PeHeaders headers;
    std::string problem;
    return readPeHeaders(file, headers, problem) ? headers.checksumOffset : 0;
}

uint32_t peChecksum(const std::string& file, size_t checksumOffset) {
    // The field itself counts as zero.
    const auto byteAt = [&](size_t at) -> uint32_t {
        if (at >= file.size() || (at >= checksumOffset && at - checksumOffset < 4)) return 0;
        return static_cast<unsigned char>(file[at]);
    };
    uint64_t sum = 0;
    for (size_t at = 0; at < file.size(); at += 2) {
        sum += byteAt(at) | byteAt(at + 1) << 8;
        sum = (sum & 0xffff) + (sum >> 16);
    }
    sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint32_t>(sum + file.size());
}

SignatureLayout readSignatureLayout(const std::string& file) {
    SignatureLayout layout;
    PeHeaders headers;
    if (!readPeHeaders(file, headers, layout.peProblem)) return layout;
    layout.isPe = true;
    layout.sectionsEnd = headers.sectionsEnd;
    layout.tableOffset = readLittle32(file, headers.certificateEntryOffset);
    layout.tableSize = readLittle32(file, headers.certificateEntryOffset + 4);
    layout.isSigned = layout.tableOffset != 0 || layout.tableSize != 0;
    if (!layout.isSigned) return layout;
    if (layout.tableOffset > file.size() || file.size() - layout.tableOffset < layout.tableSize) {
        layout.blockProblem = "the signature table runs past the end of the file";
        return layout;
    }
    if (layout.tableOffset < layout.sectionsEnd) {
        layout.blockProblem = "the signature table overlaps the program's sections";
        return layout;
    }
    const uint64_t tableEnd = layout.tableOffset + layout.tableSize;
    layout.bytesAfterTable = file.size() - tableEnd;
    size_t entry = 0, entryEnd = 0;
    if (!readCertificateEntry(file, layout, entry, entryEnd)) return layout;
    SignerFrame frame;
    Tlv whole;
    if (!locateSignerFrame(file, entry + certificateHeaderSize, entryEnd, frame, whole, layout.blockProblem)) {
        return layout;
    }
    layout.signature = FileSpan{whole.start, whole.end};
    layout.bytesAfterSignature = tableEnd - whole.end;
    layout.extraBytesAreZero = allZero(file, whole.end, tableEnd);
    for (const Tlv& attribute : frame.attributes) {
        Tlv value;
        if (!markerAttributeValue(file, attribute, value)) continue;
        size_t text = value.contentStart;
        while (text < value.end && file[text] == '\0') ++text;
        layout.hasMarkerAttribute = true;
        layout.markerText = FileSpan{text, value.end};
    }
    return layout;
}

std::vector<FileSpan> signatureOwnBytes(const SignatureLayout& layout) {
    if (!layout.isSigned || !layout.blockProblem.empty()) return {};
    if (!layout.hasMarkerAttribute) return {layout.signature};
    return {{layout.signature.begin, layout.markerText.begin}, {layout.markerText.end, layout.signature.end}};
}

std::vector<std::string> markerTagsOf(const std::string& file, const SignatureLayout& layout) {
    const bool readable = layout.isSigned && layout.blockProblem.empty();
    std::string image = readable ? file.substr(0, static_cast<size_t>(layout.tableOffset)) : file;
    // Signing tools pad the image to 8 bytes before the table.
    size_t end = image.size();
    while (end > image.size() - std::min<size_t>(image.size(), certificateAlignment - 1) && image[end - 1] == '\0')
        --end;
    const size_t floor = static_cast<size_t>(std::min<uint64_t>(layout.sectionsEnd, image.size()));
    std::vector<std::string> tags;
    const auto add = [&tags](const std::vector<std::string>& more) {
        for (const std::string& tag : more) {
            if (std::find(tags.begin(), tags.end(), tag) == tags.end()) tags.push_back(tag);
        }
    };
    image.resize(std::max(end, floor));
    add(tagsOfMarkerText(image.substr(trailingMarkerLinesStart(image, floor))));
    if (!readable) return tags;
    if (layout.hasMarkerAttribute) {
        add(tagsOfMarkerText(file.substr(static_cast<size_t>(layout.markerText.begin),
                                         static_cast<size_t>(layout.markerText.end - layout.markerText.begin))));
    }
    const size_t tableEnd = static_cast<size_t>(layout.tableOffset + layout.tableSize);
    // Lines written into the table behind the PKCS#7 by hand, then after it.
    add(tagsOfMarkerText(
        file.substr(static_cast<size_t>(layout.signature.end), tableEnd - static_cast<size_t>(layout.signature.end))));
    add(tagsOfMarkerText(file.substr(trailingMarkerLinesStart(file, tableEnd))));
    return tags;
}

bool withSignatureMarkers(const std::string& file, const SignatureLayout& layout, const std::vector<std::string>& tags,
                          std::string& out, std::string& error) {
    if (!layout.isSigned || !layout.blockProblem.empty()) {
        error = layout.isSigned ? layout.blockProblem : "the file is not signed";
        return false;
    }
    const size_t tableEnd = static_cast<size_t>(layout.tableOffset + layout.tableSize);
    if (trailingMarkerLinesStart(file, tableEnd) != tableEnd) {
        error = std::to_string(layout.bytesAfterTable) +
                " bytes that are not marker lines follow the signature (appended after signing); sign the file again";
        return false;
    }
    const size_t entry = static_cast<size_t>(layout.tableOffset);
    SignerFrame frame;
    Tlv whole;
    if (!locateSignerFrame(file, static_cast<size_t>(layout.signature.begin), static_cast<size_t>(layout.signature.end),
                           frame, whole, error)) {
        return false;
    }
    std::string kept;  // every unauthenticated attribute but the marker attribute, in order
    for (const Tlv& attribute : frame.attributes) {
        Tlv value;
        if (!markerAttributeValue(file, attribute, value))
            kept += file.substr(attribute.start, attribute.end - attribute.start);
    }
    std::string signature = rebuiltSignature(file, frame, kept);
    if (!tags.empty()) {
        // Zero bytes before the lines make the DER a multiple of 8 bytes
        // long, so that no padding follows the lines.
        for (size_t filler = 0; filler < 4 * certificateAlignment; ++filler) {
            const std::string value = std::string(filler, '\0') + markerBlock(tags);
            const std::string attribute = encoded(
                derSequence, encoded(derOid, markerOidBytes()) + encoded(derSet, encoded(derOctetString, value)));
            signature = rebuiltSignature(file, frame, kept + attribute);
            if (signature.size() % certificateAlignment == 0) break;
        }
    }
    const size_t padding = static_cast<size_t>(alignedUp(signature.size(), certificateAlignment) - signature.size());
    const size_t entryLength = certificateHeaderSize + signature.size() + padding;
    out = file.substr(0, entry + certificateHeaderSize) + signature + std::string(padding, '\0');
    writeLittle(out, entry, static_cast<uint32_t>(entryLength), 4);
    PeHeaders headers;
    std::string problem;
    readPeHeaders(out, headers, problem);
    writeLittle(out, headers.certificateEntryOffset + 4, static_cast<uint32_t>(entryLength), 4);
    writeLittle(out, headers.checksumOffset, peChecksum(out, headers.checksumOffset), 4);
    return true;
}

std::string imageForSigning(const std::string& file, const SignatureLayout& layout, bool dropMarkerLines) {
    std::string image = layout.isSigned && layout.tableOffset <= file.size()
                            ? file.substr(0, static_cast<size_t>(layout.tableOffset))
                            : file;
    PeHeaders headers;
    std::string problem;
    if (!readPeHeaders(image, headers, problem)) return image;
    std::memset(&image[headers.certificateEntryOffset], 0, dataDirectoryEntrySize);
    if (!dropMarkerLines) return image;
    const size_t floor = static_cast<size_t>(std::min<uint64_t>(headers.sectionsEnd, image.size()));
    // The padding a signing tool put behind marker lines goes with them.
    size_t end = image.size();
    while (end > floor && image.size() - end < certificateAlignment - 1 && image[end - 1] == '\0') --end;
    if (trailingMarkerLinesStart(image.substr(0, end), floor) == end) end = image.size();
    image.resize(trailingMarkerLinesStart(image.substr(0, end), floor));
    return image;
}
