#include "der.h"

bool readTlv(const std::string& bytes, size_t at, size_t limit, Tlv& tlv) {
    if (limit > bytes.size() || at >= limit || limit - at < 2) return false;
    tlv.tag = static_cast<uint8_t>(bytes[at]);
    if ((tlv.tag & 0x1f) == 0x1f) return false;
    const unsigned char first = static_cast<unsigned char>(bytes[at + 1]);
    size_t length = first;
    size_t header = 2;
    if (first >= 0x80) {
        const size_t count = first & 0x7f;
        if (count == 0 || count > 4 || limit - at - 2 < count) return false;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = length << 8 | static_cast<unsigned char>(bytes[at + 2 + i]);
        header += count;
    }
    if (length > limit - at - header) return false;
    tlv.start = at;
    tlv.contentStart = at + header;
    tlv.end = tlv.contentStart + length;
    return true;
}

bool childrenOf(const std::string& bytes, const Tlv& parent, std::vector<Tlv>& children) {
    children.clear();
    for (size_t at = parent.contentStart; at < parent.end;) {
        Tlv child;
        if (!readTlv(bytes, at, parent.end, child)) return false;
        children.push_back(child);
        at = child.end;
    }
    return true;
}

std::string contentOf(const std::string& bytes, const Tlv& tlv) {
    return bytes.substr(tlv.contentStart, tlv.end - tlv.contentStart);
}

std::string oidText(const std::string& content) {
    if (content.empty()) return "";
    std::string text;
    uint64_t arc = 0;
    bool first = true;
    for (size_t i = 0; i < content.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(content[i]);
        if (arc > (UINT64_MAX >> 7)) return "";
        arc = arc << 7 | (byte & 0x7f);
        if ((byte & 0x80) != 0) {
            if (i + 1 == content.size()) return "";  // the last arc runs on
            continue;
        }
        if (first) {
            // The first two arcs share a number: 40 * first + second.
            const uint64_t top = arc < 80 ? arc / 40 : 2;
            text = std::to_string(top) + "." + std::to_string(arc - top * 40);
            first = false;
        } else {
            text += "." + std::to_string(arc);
        }
        arc = 0;
    }
    return text;
}
