#include "zip_reader_containers.h"

#include <errno.h>
#include <sys/types.h>
#include <unistd.h>

#include "zip_format.h"

namespace {

bool readDescriptorAt(const void* context, uint64_t offset, uint8_t* buffer, size_t length) {
    const int descriptor = *static_cast<const int*>(context);
    while (length > 0) {
        const ssize_t got = pread(descriptor, buffer, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer += got;
        offset += static_cast<uint64_t>(got);
        length -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

ArchiveInput descriptorArchiveInput(const int& descriptor, uint64_t size) {
    return ArchiveInput{size, readDescriptorAt, &descriptor};
}

ZipStatus readZipDirectory(const ArchiveInput& input, ZipDirectory& directory) {
    directory.bytes.clear();
    directory.entries.clear();
    ZipStatus status = findCentralDirectory(input, directory.place);
    if (status != ZipStatus::ok) return status;
    directory.bytes.resize(directory.place.size);
    directory.entries.resize(zipEntryCapacity(directory.place));
    size_t count = 0;
    status = readCentralDirectory(input, directory.place, directory.bytes.data(), directory.entries.data(), count);
    directory.entries.resize(count);
    return status;
}

std::string entryNameText(const ZipEntry& entry) { return std::string(entry.name, entry.nameLength); }

bool decodeName(const std::string& bytes, bool utf8, std::u16string& wide) {
    wide.assign(bytes.size(), u'\0');
    const size_t length = utf8 ? decodeUtf8(bytes.data(), bytes.size(), &wide[0])
                               : decodeCodePage437(bytes.data(), bytes.size(), &wide[0]);
    wide.resize(length == notUtf8 ? 0 : length);
    return length != notUtf8;
}

bool entryWideName(const ZipEntry& entry, std::u16string& wide) {
    return decodeName(entryNameText(entry), (entry.flags & flagUtf8Name) != 0, wide);
}

std::string utf8Text(const std::u16string& wide) {
    std::string text(wide.size() * 3, '\0');
    text.resize(encodeUtf8(wide.data(), wide.size(), &text[0]));
    return text;
}

std::u16string wideText(const std::string& utf8) {
    std::u16string wide;
    if (decodeName(utf8, true, wide)) return wide;
    // Byte by byte: the valid runs as they are, each stray byte as U+FFFD.
    wide.clear();
    for (size_t i = 0; i < utf8.size();) {
        size_t end = i + 1;
        std::u16string piece;
        while (end <= utf8.size() && end - i <= 4 && !decodeName(utf8.substr(i, end - i), true, piece)) ++end;
        if (end > utf8.size() || end - i > 4) {
            wide += u'\xfffd';
            ++i;
        } else {
            wide += piece;
            i = end;
        }
    }
    return wide;
}

ZipStatus findOverlappingEntries(const ArchiveInput& input, const ZipDirectory& directory,
                                 std::vector<ZipOverlap>& overlaps) {
    const size_t count = directory.entries.size();
    std::vector<ZipPart> parts(count + 1);
    overlaps.resize(count);
    size_t found = 0;
    const ZipStatus status = findOverlappingEntries(input, directory.place, directory.entries.data(), count,
                                                    parts.data(), overlaps.data(), found);
    overlaps.resize(status == ZipStatus::ok ? found : 0);
    return status;
}

ZipStatus extractEntry(const ArchiveInput& input, const ZipEntry& entry, const char* password, const OutputSink& sink) {
    ZipWorkspace* workspace = createZipWorkspace();
    if (workspace == nullptr) return ZipStatus::outOfMemory;
    const ZipStatus status = extractEntry(input, entry, password, sink, *workspace);
    destroyZipWorkspace(workspace);
    return status;
}

std::vector<EntryClash> findEntryClashes(const std::vector<std::u16string>& names) {
    std::vector<EntryName> views;
    views.reserve(names.size());
    for (const std::u16string& name : names) views.push_back(EntryName{name.data(), name.size()});
    // uint64_t elements: aligned as the finder's arrays need.
    std::vector<uint64_t> work((entryClashWorkSize(views.data(), views.size()) + 7) / 8);
    std::vector<EntryClash> clashes(names.size());
    clashes.resize(findEntryClashes(views.data(), views.size(), work.data(), clashes.data()));
    return clashes;
}

std::vector<EntryClash> findEntryClashes(const std::vector<std::string>& names) {
    std::vector<std::u16string> wide;
    wide.reserve(names.size());
    for (const std::string& name : names) wide.push_back(wideText(name));
    return findEntryClashes(wide);
}

const char* entryNameProblem(const std::u16string& name) { return entryNameProblem(name.data(), name.size()); }

const char* entryNameProblem(const std::string& name) {
    std::u16string wide;
    if (!decodeName(name, true, wide)) {
        ZipEntry entry{};
        entry.flags = flagUtf8Name;
        return undecodableNameProblem(entry);
    }
    return entryNameProblem(wide);
}

std::vector<std::string> entryNameComponents(const std::string& name) {
    std::vector<std::string> components;
    size_t position = 0;
    NameComponentOf<char> component;
    while (nextNameComponent(name.data(), name.size(), position, component)) {
        components.emplace_back(component.text, component.length);
    }
    return components;
}

std::string destinationDirectory(const std::string& destination) {
    return destination.substr(0, destinationDirectoryLength(destination.data(), destination.size()));
}

std::string joinBelow(const std::string& directory, const std::string& name, size_t count, char separator) {
    std::vector<char> path(directory.size() + name.size() + 2);
    joinBelow(path.data(), path.size(), directory.data(), directory.size(), name.data(), name.size(), count, separator);
    return std::string(path.data());
}
