#include "certificate.h"

#include <cstdio>

#include "der.h"

namespace {

constexpr uint8_t explicitZero = 0xa0;   // [0]: the version, and a SignedData's certificates
constexpr uint8_t explicitThree = 0xa3;  // [3]: a certificate's extensions
constexpr char signedDataOidText[] = "1.2.840.113549.1.7.2";
constexpr char extendedKeyUsageOid[] = "2.5.29.37";
constexpr char keyUsageOid[] = "2.5.29.15";
constexpr char codeSigningOid[] = "1.3.6.1.5.5.7.3.3";

// What the usages are called, for the reasons given.
const std::pair<const char*, const char*> usageNames[] = {
    {"1.3.6.1.5.5.7.3.1", "serverAuth"},     {"1.3.6.1.5.5.7.3.2", "clientAuth"},
    {codeSigningOid, "codeSigning"},         {"1.3.6.1.5.5.7.3.4", "emailProtection"},
    {"1.3.6.1.5.5.7.3.8", "timeStamping"},   {"1.3.6.1.5.5.7.3.9", "OCSPSigning"},
    {"2.5.29.37.0", "anyExtendedKeyUsage"},  {"1.3.6.1.4.1.311.10.3.13", "lifetimeSigning"},
    {"1.3.6.1.4.1.311.2.1.21", "msCodeInd"}, {"1.3.6.1.4.1.311.2.1.22", "msCodeCom"},
};

// The short names openssl's one-line form uses.
const std::pair<const char*, const char*> attributeNames[] = {
    {"2.5.4.3", "CN"},
    {"2.5.4.6", "C"},
    {"2.5.4.7", "L"},
    {"2.5.4.8", "ST"},
    {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},
    {"2.5.4.5", "serialNumber"},
    {"1.2.840.113549.1.9.1", "emailAddress"},
};

std::string usageName(const std::string& oid) {
    for (const auto& [dotted, name] : usageNames) {
        if (oid == dotted) return name;
    }
    return oid;
}

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Blanks and line ends are skipped, '=' ends the data; false for anything
// else.
bool decodeBase64(const std::string& text, std::string& out) {
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') break;
        const int value = base64Value(c);
        if (value < 0) return false;
        bits = bits << 6 | static_cast<uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xff);
        }
    }
    return true;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

bool digitsAt(const std::string& text, size_t at, size_t count, unsigned& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

// UTCTime "YYMMDDHHMMSSZ" (years 1950 to 2049) or GeneralizedTime
// "YYYYMMDDHHMMSSZ", as RFC 5280 has certificates write them.
bool readTime(const std::string& bytes, const Tlv& tlv, int64_t& seconds) {
    const std::string text = contentOf(bytes, tlv);
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    size_t at = 0;
    if (tlv.tag == derUtcTime) {
        if (text.size() != 13 || !digitsAt(text, 0, 2, year)) return false;
        year += year < 50 ? 2000 : 1900;
        at = 2;
    } else if (tlv.tag == derGeneralizedTime) {
        if (text.size() != 15 || !digitsAt(text, 0, 4, year)) return false;
        at = 4;
    } else {
        return false;
    }
    if (!digitsAt(text, at, 2, month) || !digitsAt(text, at + 2, 2, day) || !digitsAt(text, at + 4, 2, hour) ||
        !digitsAt(text, at + 6, 2, minute) || !digitsAt(text, at + 8, 2, second) || text.back() != 'Z' || month < 1 ||
        month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
        return false;
    }
    seconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

// A name's attribute value: the string types certificates use, as text.
std::string nameValue(const std::string& bytes, const Tlv& tlv) {
    const std::string content = contentOf(bytes, tlv);
    constexpr uint8_t bmpString = 0x1e;
    if (tlv.tag != bmpString) return content;
    // UTF-16BE: the ASCII ones kept, others shown as '?'.
    std::string text;
    for (size_t i = 0; i + 1 < content.size(); i += 2) text += content[i] == '\0' ? content[i + 1] : '?';
    return text;
}

// "/CN=Example/O=Example Ltd": a Name's attributes in order.
bool readName(const std::string& bytes, const Tlv& name, std::string& text) {
    std::vector<Tlv> sets;
    if (name.tag != derSequence || !childrenOf(bytes, name, sets)) return false;
    for (const Tlv& set : sets) {
        std::vector<Tlv> attributes;
        if (set.tag != derSet || !childrenOf(bytes, set, attributes)) return false;
        for (const Tlv& attribute : attributes) {
            std::vector<Tlv> parts;
            if (attribute.tag != derSequence || !childrenOf(bytes, attribute, parts) || parts.size() != 2 ||
                parts[0].tag != derOid) {
                return false;
            }
            std::string type = oidText(contentOf(bytes, parts[0]));
            for (const auto& [dotted, shortName] : attributeNames) {
                if (type == dotted) type = shortName;
            }
            text += "/" + type + "=" + nameValue(bytes, parts[1]);
        }
    }
    return true;
}

void readExtension(const std::string& bytes, const Tlv& extension, CertificateInfo& info) {
    std::vector<Tlv> parts;
    if (extension.tag != derSequence || !childrenOf(bytes, extension, parts) || parts.size() < 2 ||
        parts[0].tag != derOid || parts.back().tag != derOctetString) {
        return;
    }
    const std::string oid = oidText(contentOf(bytes, parts[0]));
    Tlv value;
    const Tlv& wrapper = parts.back();
    if (!readTlv(bytes, wrapper.contentStart, wrapper.end, value) || value.end != wrapper.end) return;
    if (oid == extendedKeyUsageOid) {
        std::vector<Tlv> usages;
        info.hasExtendedKeyUsage = true;
        if (value.tag != derSequence || !childrenOf(bytes, value, usages)) return;
        for (const Tlv& usage : usages) {
            if (usage.tag == derOid) info.extendedKeyUsages.push_back(oidText(contentOf(bytes, usage)));
        }
    } else if (oid == keyUsageOid) {
        info.hasKeyUsage = true;
        // A BIT STRING: the count of unused bits, then the bits, the first
        // (digitalSignature) highest.
        const std::string content = contentOf(bytes, value);
        info.digitalSignature =
            value.tag == derBitString && content.size() >= 2 && (static_cast<unsigned char>(content[1]) & 0x80) != 0;
    }
}

bool readCertificate(const std::string& bytes, const Tlv& certificate, CertificateInfo& info) {
    std::vector<Tlv> parts, fields;
    if (certificate.tag != derSequence || !childrenOf(bytes, certificate, parts) || parts.size() != 3 ||
        parts[0].tag != derSequence || !childrenOf(bytes, parts[0], fields)) {
        return false;
    }
    // version [0] (optional), serialNumber, signature, issuer, validity,
    // subject, subjectPublicKeyInfo, then optional fields.
    size_t at = !fields.empty() && fields[0].tag == explicitZero ? 1 : 0;
    if (fields.size() < at + 6) return false;
    const Tlv& validity = fields[at + 3];
    std::vector<Tlv> times;
    if (validity.tag != derSequence || !childrenOf(bytes, validity, times) || times.size() != 2 ||
        !readTime(bytes, times[0], info.notBefore) || !readTime(bytes, times[1], info.notAfter) ||
        !readName(bytes, fields[at + 4], info.subject) || fields[at + 5].tag != derSequence) {
        return false;
    }
    const Tlv& key = fields[at + 5];
    info.publicKey = bytes.substr(key.start, key.end - key.start);
    for (size_t i = at + 6; i < fields.size(); ++i) {
        std::vector<Tlv> wrapper, extensions;
        if (fields[i].tag != explicitThree || !childrenOf(bytes, fields[i], wrapper) || wrapper.size() != 1 ||
            !childrenOf(bytes, wrapper[0], extensions)) {
            continue;
        }
        for (const Tlv& extension : extensions) readExtension(bytes, extension, info);
    }
    return true;
}

// A ContentInfo holding a SignedData: the certificates of its [0] set.
bool readBundle(const std::string& bytes, const Tlv& contentInfo, std::vector<CertificateInfo>& certificates) {
    std::vector<Tlv> parts, wrapper, fields;
    if (!childrenOf(bytes, contentInfo, parts) || parts.size() != 2 || parts[0].tag != derOid ||
        oidText(contentOf(bytes, parts[0])) != signedDataOidText || !childrenOf(bytes, parts[1], wrapper) ||
        wrapper.size() != 1 || !childrenOf(bytes, wrapper[0], fields)) {
        return false;
    }
    for (const Tlv& field : fields) {
        std::vector<Tlv> members;
        if (field.tag != explicitZero || !childrenOf(bytes, field, members)) continue;
        for (const Tlv& member : members) {
            CertificateInfo info;
            if (readCertificate(bytes, member, info)) certificates.push_back(info);
        }
    }
    return true;
}

// One DER element: a certificate, or a bundle of them.
void readDer(const std::string& bytes, std::vector<CertificateInfo>& certificates) {
    Tlv whole;
    if (!readTlv(bytes, 0, bytes.size(), whole)) return;
    CertificateInfo info;
    if (readCertificate(bytes, whole, info)) {
        certificates.push_back(info);
    } else {
        readBundle(bytes, whole, certificates);
    }
}

}  // namespace

bool readCertificates(const std::string& file, std::vector<CertificateInfo>& certificates, std::string& error) {
    certificates.clear();
    const std::string begin = "-----BEGIN ";
    const std::string dashes = "-----";
    if (file.find(begin) == std::string::npos) {
        readDer(file, certificates);
    }
    for (size_t at = file.find(begin); at != std::string::npos; at = file.find(begin, at + 1)) {
        const size_t typeStart = at + begin.size();
        const size_t typeEnd = file.find(dashes, typeStart);
        if (typeEnd == std::string::npos) break;
        const std::string type = file.substr(typeStart, typeEnd - typeStart);
        const std::string end = "-----END " + type + dashes;
        const size_t dataEnd = file.find(end, typeEnd);
        if (dataEnd == std::string::npos) break;
        std::string der;
        if (type != "CERTIFICATE" && type != "X509 CERTIFICATE" && type != "TRUSTED CERTIFICATE" && type != "PKCS7") {
            continue;
        }
        if (decodeBase64(file.substr(typeEnd + dashes.size(), dataEnd - typeEnd - dashes.size()), der)) {
            readDer(der, certificates);
        }
    }
    if (certificates.empty()) {
        error = "holds no certificate that can be read (PEM, DER or PKCS#7 expected)";
        return false;
    }
    return true;
}

int certificateOfKey(const std::vector<CertificateInfo>& certificates, const std::string& publicKey) {
    for (size_t i = 0; i < certificates.size(); ++i) {
        if (certificates[i].publicKey == publicKey) return static_cast<int>(i);
    }
    return -1;
}

std::string utcText(int64_t seconds) {
    const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const int64_t rest = seconds - days * 86400;
    // civil_from_days, the inverse of daysFromCivil.
    const int64_t shifted = days + 719468;
    const int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(shifted - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const unsigned month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%lld-%02u-%02u %02lld:%02lld:%02lld UTC", static_cast<long long>(year), month,
                  day, static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    return text;
}

CertificateFindings judgeSigningCertificate(const CertificateInfo& certificate, int64_t now, bool timestamped) {
    CertificateFindings findings;
    if (certificate.hasExtendedKeyUsage) {
        bool codeSigning = false;
        std::string usages;
        for (const std::string& usage : certificate.extendedKeyUsages) {
            codeSigning = codeSigning || usage == codeSigningOid;
            usages += (usages.empty() ? "" : ", ") + usageName(usage);
        }
        if (!codeSigning) {
            findings.problems.push_back("its extended key usage allows " + (usages.empty() ? "nothing" : usages) +
                                        ", not codeSigning; Windows and osslsigncode verify refuse code signed "
                                        "with it (\"Unsupported Signer's certificate purpose\")");
        }
    }
    if (certificate.hasKeyUsage && !certificate.digitalSignature) {
        findings.problems.push_back("its key usage does not include digitalSignature, which a signature on code needs");
    }
    if (now < certificate.notBefore) {
        findings.problems.push_back("it is not valid before " + utcText(certificate.notBefore));
    } else if (now > certificate.notAfter) {
        findings.problems.push_back("it expired on " + utcText(certificate.notAfter));
    } else if (certificate.notAfter - now < expiryWarningDays * 86400) {
        const int64_t days = (certificate.notAfter - now) / 86400;
        findings.warnings.push_back(
            "it expires on " + utcText(certificate.notAfter) + " (in " +
            (days == 0   ? std::string("less than a day")
             : days == 1 ? std::string("1 day")
                         : std::to_string(days) + " days") +
            "); " +
            (timestamped ? "the time stamp keeps the signatures valid after that"
                         : "the signatures stay valid after that only with a time stamp (--timestamp URL)"));
    }
    return findings;
}
