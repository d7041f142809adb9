// The extraction tool's archive reader over arbitrary archives.
//
// In memory: the sink never gets more than an entry's declared size, an
// entry that verifies delivered exactly that many bytes with the right CRC,
// and an encrypted entry without a password gives the sink nothing. Each
// name converts to UTF-16 as its flag says (UTF-8 that round-trips, or code
// page 437), and every entry's time reads without harm.
//
// On disk: the whole tool extracts into a destination inside a private root
// a few levels deep: a fresh one, or for every other input one that already
// holds links to outside it (a folder, a file, a part name). Afterwards
// nothing may exist in the root but the archive, the destination's subtree
// and the untouched outside (no links but the planted ones), no temporary
// part file may be left behind, each file that stands where an entry that
// verifies in memory goes holds that entry's data, and an archive whose names
// clash or whose entries overlap has written nothing at all.
//
// Allocations sized from declared values are caught by libFuzzer's
// -malloc_limit_mb (run_fuzzers.sh passes it).
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "entry_time.h"
#include "exit_codes.h"
#include "extract_archive.h"
#include "launcher/medium_files.h"
#include "support/fuzz_check.h"
#include "zip_format.h"
#include "zip_reader_containers.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* password = "secret";

// What the planted links point at; entry names in the seeds use these names.
constexpr const char* outsideData = "outside data";
const char* const plantedLinks[][2] = {
    {"planted-dir", "../outside"},
    {"planted-file", "../outside/target.txt"},
    {"planted-file.kestrune-part", "../outside/made-through-link.txt"},
};

struct Sandbox {
    fs::path root;  // private; removed at exit
    fs::path archiveDirectory;
    fs::path archive;
    fs::path destination;
    fs::path outside;  // what the planted links point at
};

// A part file's name: the final name and the part suffix, or a spare
// ".kestrune-p" and three digits.
bool isPartFileName(const std::string& name) {
    const std::string part = partFileSuffix;
    if (name.size() > part.size() && name.compare(name.size() - part.size(), std::string::npos, part) == 0) return true;
    const std::string spare = ".kestrune-p";
    const size_t length = spare.size() + 3;
    return name.size() > length && name.compare(name.size() - length, spare.size(), spare) == 0 &&
           name.find_first_not_of("0123456789", name.size() - 3) == std::string::npos;
}

// The tool prints a line per problem on stderr; over thousands of runs that
// would bury the fuzzer's own output. Stderr is muted while the tool runs,
// and sanitizer reports and check failures go to a saved copy of it.
int savedStderr() {
    static const int saved = [] {
        const int descriptor = dup(2);
        if (descriptor < 0) return 2;
        __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(descriptor)));
        fuzzReportDescriptor = descriptor;
        return descriptor;
    }();
    return saved;
}

class MutedStderr {
public:
    MutedStderr() {
        std::fflush(stderr);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 2);
            close(null);
        }
    }
    ~MutedStderr() {
        std::fflush(stderr);
        dup2(savedStderr(), 2);
    }
    MutedStderr(const MutedStderr&) = delete;
    MutedStderr& operator=(const MutedStderr&) = delete;
};

// The destination lies a few levels below the private root, so that an entry
// that climbed out of it would still land inside the root and be seen.
const Sandbox& sandbox() {
    static const Sandbox box = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/kestrune-zip-fuzz.XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back(0);
        if (mkdtemp(buffer.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        Sandbox made;
        made.root = buffer.data();
        made.archiveDirectory = made.root / "l1" / "l2" / "l3" / "l4";
        fs::create_directories(made.archiveDirectory);
        made.archive = made.archiveDirectory / "archive.zip";
        made.destination = made.archiveDirectory / "out";
        made.outside = made.archiveDirectory / "outside";
        std::atexit([] { fs::remove_all(sandbox().root); });
        return made;
    }();
    return box;
}

struct Collected {
    std::vector<uint8_t> data;
    uint64_t declared;
    bool overrun = false;
};

bool collect(void* context, const uint8_t* data, size_t length) {
    Collected& got = *static_cast<Collected*>(context);
    FUZZ_CHECK(length <= zipChunkSize);
    if (length > got.declared - got.data.size()) got.overrun = true;
    got.data.insert(got.data.end(), data, data + length);
    return true;
}

uint32_t crcOf(const std::vector<uint8_t>& data) {
    uLong crc = crc32(0, nullptr, 0);
    return static_cast<uint32_t>(crc32(crc, data.data(), static_cast<uInt>(data.size())));
}

bool isPathInside(const fs::path& path, const fs::path& directory) {
    const std::string p = path.string();
    const std::string d = directory.string();
    return p == d || (p.size() > d.size() && p.compare(0, d.size(), d) == 0 && p[d.size()] == '/');
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The outside, afresh, and the destination holding links into it.
void plantLinks(const Sandbox& box) {
    fs::create_directories(box.outside);
    std::ofstream(box.outside / "target.txt", std::ios::binary) << outsideData;
    fs::create_directories(box.destination);
    for (const auto& planted : plantedLinks) fs::create_symlink(planted[1], box.destination / planted[0]);
}

bool isPlantedLink(const fs::path& path, const Sandbox& box) {
    for (const auto& planted : plantedLinks)
        if (path == box.destination / planted[0]) return true;
    return false;
}

// The entry's name as the tool spells it in UTF-16; empty when it cannot be
// read (the tool refuses such an entry and leaves it out of the clash check).
// A name read as UTF-8 is exactly the bytes it came from.
std::u16string checkedWideName(const ZipEntry& entry) {
    std::u16string wide;
    const bool decoded = entryWideName(entry, wide);
    if (decoded && (entry.flags & flagUtf8Name)) FUZZ_CHECK(utf8Text(wide) == entryNameText(entry));
    if (!decoded) FUZZ_CHECK(entryNameProblem(entryNameText(entry)) != nullptr);
    return wide;
}

// The entry's path below the destination, in UTF-8 as it is written here.
std::string hostPath(const std::u16string& wide) {
    std::string path;
    size_t position = 0;
    NameComponent component;
    while (nextNameComponent(wide.data(), wide.size(), position, component)) {
        path += (path.empty() ? "" : "/") + utf8Text(std::u16string(component.text, component.length));
    }
    return path;
}

// Whether the tool must refuse the archive whole, before writing anything.
bool isRefusedWhole(const ArchiveInput& input, const ZipDirectory& directory) {
    std::vector<std::u16string> names;
    for (const ZipEntry& entry : directory.entries) names.push_back(checkedWideName(entry));
    std::vector<ZipOverlap> overlaps;
    const ZipStatus status = findOverlappingEntries(input, directory, overlaps);
    return !findEntryClashes(names).empty() || status != ZipStatus::ok || !overlaps.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    savedStderr();
    const Sandbox& box = sandbox();
    const ArchiveInput input = memoryArchiveInput(bytes, size);

    // What the reader makes of the archive in memory.
    ZipDirectory directory;
    // A damaged directory still yields the entries read before the damage.
    readZipDirectory(input, directory);
    std::map<std::string, std::string> expectedFiles;  // path below the destination -> data
    std::vector<std::string> entryPaths;
    for (const ZipEntry& entry : directory.entries) {
        const std::u16string name = checkedWideName(entry);
        const EntryTime time = zipEntryTime(entry);
        FUZZ_CHECK(time.kind != EntryTime::Kind::utc || entry.hasUnixTime);
        for (const char* given : {static_cast<const char*>(nullptr), password}) {
            Collected got{{}, entry.uncompressedSize};
            const ZipStatus status = extractEntry(input, entry, given, {collect, &got});
            FUZZ_CHECK(!got.overrun);
            FUZZ_CHECK(got.data.size() <= entry.uncompressedSize);
            if (zipEntryIsEncrypted(entry) && given == nullptr) {
                FUZZ_CHECK(status != ZipStatus::ok);
                FUZZ_CHECK(got.data.empty());
            }
            if (status == ZipStatus::ok) {
                FUZZ_CHECK(got.data.size() == entry.uncompressedSize);
                FUZZ_CHECK(crcOf(got.data) == entry.crc32);
            }
            if (given == nullptr || name.empty() || entryNameProblem(name) != nullptr || zipEntryIsDirectory(entry)) {
                continue;
            }
            const std::string path = hostPath(name);
            entryPaths.push_back(path);
            // A later entry of the same name that fails leaves the earlier file.
            if (status == ZipStatus::ok) expectedFiles[path] = std::string(got.data.begin(), got.data.end());
        }
    }

    // The whole tool, from a file, into a destination that does not exist yet.
    {
        std::ofstream out(box.archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
        FUZZ_CHECK(out.good());
    }
    // The launcher passes its work directory as it stands, which may end in
    // a separator ("D:\", or a D text like C:\Keep\).
    const std::string destination = box.destination.string() + std::string(size % 3, '/');
    const bool planted = size % 2 == 0;
    if (planted) plantLinks(box);
    int code = 0;
    {
        const MutedStderr muted;
        code = extractArchive(box.archive.string().c_str(), password, destination.c_str());
    }
    const int knownCodes[] = {exitSuccess,     exitDamagedArchive, exitArchiveUnreadable, exitRefusedEntryName,
                              exitWriteFailed, exitUnsupported,    exitWrongPassword,     exitOutOfMemory};
    bool known = false;
    for (int k : knownCodes) known = known || k == code;
    FUZZ_CHECK(known);

    const bool refusedWhole = isRefusedWhole(input, directory);
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(box.root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::path& path = it->path();
        const bool plantedLink = planted && isPlantedLink(path, box);
        FUZZ_CHECK(!it->is_symlink() || plantedLink);
        const bool outside = planted && (path == box.outside || path == box.outside / "target.txt");
        const bool allowed = isPathInside(box.archiveDirectory, path) || path == box.archive ||
                             isPathInside(path, box.destination) || outside;
        if (!allowed) std::fprintf(stderr, "written outside the destination: %s\n", path.c_str());
        FUZZ_CHECK(allowed);
        const bool writtenBelow = path != box.destination && isPathInside(path, box.destination) && !plantedLink;
        if (refusedWhole && writtenBelow) std::fprintf(stderr, "written though refused whole: %s\n", path.c_str());
        FUZZ_CHECK(!(refusedWhole && writtenBelow));
        const std::string name = path.filename().string();
        if (isPathInside(path, box.destination) && isPartFileName(name) && !plantedLink) {
            // Only an entry of that very name may stand there.
            const std::string below = path.string().substr(box.destination.string().size() + 1);
            bool isEntry = false;
            for (const std::string& p : entryPaths) isEntry = isEntry || p == below;
            if (!isEntry) std::fprintf(stderr, "part file left behind: %s\n", path.c_str());
            FUZZ_CHECK(isEntry);
        }
    }
    FUZZ_CHECK(!error);

    for (const auto& [below, data] : expectedFiles) {
        const fs::path path = box.destination / below;
        struct stat status;
        if (lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            FUZZ_CHECK(readFile(path) == data);
        } else {
            // Only a clash with another entry (a file where a directory must go,
            // or the reverse) may keep a verified entry from being written.
            FUZZ_CHECK(code != exitSuccess);
        }
    }

    if (planted) {
        FUZZ_CHECK(readFile(box.outside / "target.txt") == outsideData);
        fs::remove_all(box.outside, error);
        FUZZ_CHECK(!error);
    }
    fs::remove_all(box.destination, error);
    FUZZ_CHECK(!error);
    return 0;
}
