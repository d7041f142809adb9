#include "extract_archive.h"

#include <stdlib.h>
#include <string.h>

#include "entry_clashes.h"
#include "entry_name.h"
#include "entry_time.h"
#include "exit_codes.h"
#include "file_system.h"
#include "launcher/medium_files.h"
#include "zip_archive.h"

namespace {

// Appended to a file's final name while it is being written and verified.
// When something stands at that name already (a part file an earlier run
// left, or a link or a folder someone planted), the spare suffixes of the
// same length are tried in turn: what stands there is neither opened nor
// removed, and cannot keep the entry out.
constexpr char spareSuffixStart[] = ".kestrune-p";  // and three digits
constexpr int spareSuffixes = 99;
static_assert(sizeof partFileSuffix - 1 == partSuffixLength, "the part suffix is as long as the name rules allow");
static_assert(sizeof spareSuffixStart - 1 + 3 == partSuffixLength, "spare suffixes have the same length");

constexpr unsigned maxWorkers = 4;

// The name of an entry whose name could not be decoded: empty.
const char16_t undecodedName[1] = {0};

// ---------------------------------------------------------------- reports

// The lines of the problems of one entry, or of the archive as a whole, kept
// until their turn to be printed comes.
struct Report {
    char* text;
    size_t length;
    size_t capacity;
    int firstCode;
};

void addBytes(Report& report, const char* bytes, size_t length) {
    if (length == 0) return;
    if (report.capacity - report.length < length) {
        size_t capacity = report.capacity * 2 + 256;
        if (capacity - report.length < length) capacity = report.length + length;
        char* grown = static_cast<char*>(malloc(capacity));
        // Without memory the line is cut short; its exit code still counts.
        if (grown == nullptr) return;
        if (report.length > 0) memcpy(grown, report.text, report.length);
        free(report.text);
        report.text = grown;
        report.capacity = capacity;
    }
    memcpy(report.text + report.length, bytes, length);
    report.length += length;
}

void addText(Report& report, const char* text) { addBytes(report, text, strlen(text)); }

// Entry names are untrusted bytes: keep control characters off the console.
void addPrintable(Report& report, const char* text, size_t length) {
    char piece[64];
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        piece[used++] = byte < 0x20 || byte == 0x7f ? '?' : text[i];
        if (used == sizeof piece) {
            addBytes(report, piece, used);
            used = 0;
        }
    }
    addBytes(report, piece, used);
}

void addDecimal(Report& report, uint64_t value) {
    char digits[20];
    size_t count = 0;
    do {
        digits[sizeof digits - ++count] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    addBytes(report, digits + sizeof digits - count, count);
}

void beginProblem(Report& report, const char* subject, size_t length) {
    addText(report, "unzip: ");
    addPrintable(report, subject, length);
    addText(report, ": ");
}

void endProblem(Report& report, int code) {
    addText(report, nativeLineEnd);
    if (report.firstCode == exitSuccess) report.firstCode = code;
}

void addProblem(Report& report, const char* subject, size_t length, const char* problem, int code) {
    beginProblem(report, subject, length);
    addText(report, problem);
    endProblem(report, code);
}

void addProblem(Report& report, const char* subject, const char* problem, int code) {
    addProblem(report, subject, strlen(subject), problem, code);
}

// Prints a report and frees its text; the first problem printed decides the
// exit code.
void printReport(Report& report, int& firstCode) {
    if (report.length > 0) writeErrorText(report.text, report.length);
    free(report.text);
    if (firstCode == exitSuccess) firstCode = report.firstCode;
    report = Report{};
}

int exitCodeFor(ZipStatus status) {
    switch (status) {
        case ZipStatus::ok: return exitSuccess;
        case ZipStatus::damaged: return exitDamagedArchive;
        case ZipStatus::unsupported: return exitUnsupported;
        case ZipStatus::wrongPassword: return exitWrongPassword;
        case ZipStatus::readFailed: return exitArchiveUnreadable;
        case ZipStatus::outputFailed: return exitWriteFailed;
        case ZipStatus::outOfMemory: return exitOutOfMemory;
    }
    return exitDamagedArchive;
}

// A file-system refusal at `path`; `failure` says what could not be done.
void addFileSystemProblem(Report& report, const char* path, FileSystemStatus status, const char* failure) {
    switch (status) {
        case FileSystemStatus::ok: return;
        case FileSystemStatus::link:
            addProblem(report, path, "a link stands here; nothing is written through it", exitRefusedEntryName);
            return;
        case FileSystemStatus::inTheWay:
            beginProblem(report, path, strlen(path));
            addText(report, failure);
            addText(report, ": something else stands here");
            endProblem(report, exitWriteFailed);
            return;
        case FileSystemStatus::failed: addProblem(report, path, failure, exitWriteFailed); return;
    }
}

// ---------------------------------------------------------------- workers

// What the workers share. Everything but the fields below `lock` is read
// only while they run.
struct Extraction {
    const ArchiveInput* input;
    const ArchiveInput* scan;  // the input through the main thread's window, before the workers start
    const ZipEntry* entries;
    const EntryName* names;  // each entry's in UTF-16; undecodedName when it has none
    size_t count;
    const char* password;
    const char* destination;  // the destination folder's path, as lines give it
    size_t destinationLength;
    const Directory* destinationFolder;
    size_t longestName;  // in bytes as stored, never fewer than its UTF-16 units
    size_t mostComponents;

    WorkerLock* lock;  // null with a single worker
    size_t nextEntry;  // the next entry a worker takes
    Report* reports;   // each entry's, printed in entry order
    bool* finished;
    bool* foldersMade;  // folder entries made, whose times are set at the end
    size_t printed;     // entries whose reports are out
    int* firstCode;     // of the whole run
};

struct OpenFolder {
    Directory* folder;
    NameComponent name;
};

// The folders of the entry being written, open from the destination down;
// the worker's next entry keeps those at the start of its path that are the
// same.
struct FolderChain {
    const Directory* destination;
    OpenFolder* open;
    size_t openCount;
};

// A worker's window on the archive: small reads (an entry's local header,
// its encryption header, a small file's data) are served from one larger
// read, so that a run of small entries costs few calls to the system.
constexpr size_t readAheadSize = 16384;
struct ReadAhead {
    const ArchiveInput* input;
    uint8_t* bytes;  // readAheadSize of them
    uint64_t start;
    size_t length;  // 0: nothing read yet
};

bool readThrough(const void* context, uint64_t offset, uint8_t* buffer, size_t length) {
    ReadAhead& ahead = *static_cast<ReadAhead*>(const_cast<void*>(context));
    const ArchiveInput& input = *ahead.input;
    if (length >= readAheadSize) return input.readAt(input.context, offset, buffer, length);
    if (offset < ahead.start || offset - ahead.start > ahead.length || ahead.start + ahead.length - offset < length) {
        // The reader keeps every call within the archive, so `length` fits.
        const uint64_t left = input.size - offset;
        const size_t fill = left < readAheadSize ? static_cast<size_t>(left) : readAheadSize;
        ahead.length = 0;
        if (!input.readAt(input.context, offset, ahead.bytes, fill)) return false;
        ahead.start = offset;
        ahead.length = fill;
    }
    memcpy(buffer, ahead.bytes + (offset - ahead.start), length);
    return true;
}

// One worker's memory: what extractEntry works in, and room for the names
// and paths of any entry of the archive.
struct WorkerState {
    ZipWorkspace* workspace;
    ReadAhead readAhead;
    ArchiveInput input;  // the archive through readAhead
    FolderChain folders;
    NameComponent* components;  // the current entry's
    size_t componentCount;
    char16_t* partName;  // a component and a part suffix
    size_t partNameLength;
    char* path;  // a path below the destination, for lines
    size_t pathCapacity;
    void* memory;
};

bool startWorkerState(WorkerState& state, const Extraction& extraction) {
    const size_t components = extraction.mostComponents;
    const size_t partName = (extraction.longestName + partSuffixLength) * sizeof(char16_t);
    const size_t path = extraction.destinationLength + extraction.longestName + partSuffixLength + 2;
    const size_t size = components * (sizeof(OpenFolder) + sizeof(NameComponent)) + partName + path + readAheadSize;
    state = WorkerState{};
    state.memory = malloc(size);
    state.workspace = createZipWorkspace();
    if (state.memory == nullptr || state.workspace == nullptr) {
        free(state.memory);
        destroyZipWorkspace(state.workspace);
        return false;
    }
    // The arrays first, so that each is aligned as malloc aligns.
    char* at = static_cast<char*>(state.memory);
    state.folders = FolderChain{extraction.destinationFolder, reinterpret_cast<OpenFolder*>(at), 0};
    at += components * sizeof(OpenFolder);
    state.components = reinterpret_cast<NameComponent*>(at);
    at += components * sizeof(NameComponent);
    state.partName = reinterpret_cast<char16_t*>(at);
    at += partName;
    state.path = at;
    state.pathCapacity = path;
    at += path;
    state.readAhead = ReadAhead{extraction.input, reinterpret_cast<uint8_t*>(at), 0, 0};
    state.input = ArchiveInput{extraction.input->size, readThrough, &state.readAhead};
    return true;
}

const Directory& innermostFolder(const FolderChain& chain) {
    if (chain.openCount == 0) return *chain.destination;
    return *chain.open[chain.openCount - 1].folder;
}

void closeFoldersFrom(FolderChain& chain, size_t count) {
    while (chain.openCount > count) closeDirectory(chain.open[--chain.openCount].folder);
}

void finishWorkerState(WorkerState& state) {
    closeFoldersFrom(state.folders, 0);
    destroyZipWorkspace(state.workspace);
    free(state.memory);
    state = WorkerState{};
}

bool sameComponent(const NameComponent& a, const NameComponent& b) {
    return a.length == b.length && memcmp(a.text, b.text, a.length * sizeof(char16_t)) == 0;
}

NativeName nativeName(const NameComponent& component) { return NativeName{component.text, component.length}; }

// The current entry's components, from its name in UTF-16.
void takeComponents(WorkerState& worker, const EntryName& name) {
    worker.componentCount = 0;
    size_t position = 0;
    NameComponent component;
    while (nextNameComponent(name.text, name.length, position, component)) {
        worker.components[worker.componentCount++] = component;
    }
}

// Opens the first `count` components of the current entry, creating the
// missing ones; on failure `failedCount` is the number of components up to
// the one that failed.
FileSystemStatus openFolders(WorkerState& worker, size_t count, size_t& failedCount) {
    FolderChain& chain = worker.folders;
    size_t kept = 0;
    while (kept < chain.openCount && kept < count && sameComponent(chain.open[kept].name, worker.components[kept])) {
        ++kept;
    }
    closeFoldersFrom(chain, kept);
    for (size_t index = kept; index < count; ++index) {
        Directory* folder = nullptr;
        const FileSystemStatus status =
            openSubdirectory(innermostFolder(chain), nativeName(worker.components[index]), folder);
        if (status != FileSystemStatus::ok) {
            failedCount = index + 1;
            return status;
        }
        chain.open[chain.openCount++] = OpenFolder{folder, worker.components[index]};
    }
    return FileSystemStatus::ok;
}

void makePartName(WorkerState& worker, int attempt) {
    const NameComponent& last = worker.components[worker.componentCount - 1];
    memcpy(worker.partName, last.text, last.length * sizeof(char16_t));
    char16_t* suffix = worker.partName + last.length;
    const char* ascii = attempt == 0 ? partFileSuffix : spareSuffixStart;
    while (*ascii != 0) *suffix++ = static_cast<unsigned char>(*ascii++);
    if (attempt != 0) {
        suffix[0] = static_cast<char16_t>('0' + attempt / 100 % 10);
        suffix[1] = static_cast<char16_t>('0' + attempt / 10 % 10);
        suffix[2] = static_cast<char16_t>('0' + attempt % 10);
    }
    worker.partNameLength = last.length + partSuffixLength;
}

NativeName partName(const WorkerState& worker) { return NativeName{worker.partName, worker.partNameLength}; }

// The path of the current entry's first `count` components below the
// destination, in the worker's path buffer.
const char* pathBelow(WorkerState& worker, const Extraction& extraction, const ZipEntry& entry, size_t count) {
    joinBelow(worker.path, worker.pathCapacity, extraction.destination, extraction.destinationLength, entry.name,
              entry.nameLength, count, nativePathSeparator);
    return worker.path;
}

// The path of the current entry's part file, its suffix in ASCII.
const char* partPath(WorkerState& worker, const Extraction& extraction, const ZipEntry& entry) {
    char* path =
        const_cast<char*>(pathBelow(worker, extraction, entry, nameComponentCount(entry.name, entry.nameLength)));
    size_t length = strlen(path);
    for (size_t i = worker.partNameLength - partSuffixLength; i < worker.partNameLength; ++i) {
        path[length++] = static_cast<char>(worker.partName[i]);
    }
    path[length] = 0;
    return path;
}

// Receives an entry's data. The parent directories and the temporary file
// are made only when the first data arrives (or when an empty entry
// verified), so an entry that cannot be decrypted leaves nothing behind.
struct EntryWriter {
    WorkerState* worker;
    OutputFile* file;
    FileSystemStatus failure;
    size_t failedCount;  // components up to a folder that failed; 0: the file
    bool atFinalName;    // created new at its final name, no part file
};

bool openEntryFile(EntryWriter& writer) {
    WorkerState& worker = *writer.worker;
    writer.failure = openFolders(worker, worker.componentCount - 1, writer.failedCount);
    if (writer.failure != FileSystemStatus::ok) return false;
    const Directory& folder = innermostFolder(worker.folders);
    // In a folder this run made there is no file to keep from being replaced
    // by a broken one: the file is created new at its final name. Anything
    // that stands there even so makes the creation fail, and the entry takes
    // a part file as everywhere else.
    if (madeThisRun(folder) && createNewFile(folder, nativeName(worker.components[worker.componentCount - 1]),
                                             writer.file) == FileSystemStatus::ok) {
        writer.atFinalName = true;
        return true;
    }
    for (int attempt = 0; attempt <= spareSuffixes; ++attempt) {
        makePartName(worker, attempt);
        writer.failure = createNewFile(innermostFolder(worker.folders), partName(worker), writer.file);
        if (writer.failure != FileSystemStatus::link && writer.failure != FileSystemStatus::inTheWay) break;
    }
    return writer.failure == FileSystemStatus::ok;
}

bool writeToEntry(void* context, const uint8_t* data, size_t length) {
    EntryWriter& writer = *static_cast<EntryWriter*>(context);
    if (writer.file == nullptr && !openEntryFile(writer)) return false;
    if (writeOutputFile(writer.file, data, length)) return true;
    writer.failure = FileSystemStatus::failed;
    return false;
}

void addWriterProblem(Report& report, const EntryWriter& writer, const Extraction& extraction, const ZipEntry& entry) {
    WorkerState& worker = *writer.worker;
    if (writer.failedCount != 0) {
        addFileSystemProblem(report, pathBelow(worker, extraction, entry, writer.failedCount), writer.failure,
                             "cannot create directory");
    } else {
        addFileSystemProblem(report, partPath(worker, extraction, entry), writer.failure, "cannot write file");
    }
}

void extractFile(WorkerState& worker, const Extraction& extraction, const ZipEntry& entry, Report& report) {
    EntryWriter writer{&worker, nullptr, FileSystemStatus::ok, 0, false};
    makePartName(worker, 0);
    const ZipStatus status =
        extractEntry(worker.input, entry, extraction.password, OutputSink{writeToEntry, &writer}, *worker.workspace);
    if (status == ZipStatus::ok) {
        if (writer.file == nullptr && !openEntryFile(writer)) {
            addWriterProblem(report, writer, extraction, entry);
            return;
        }
        const NativeName finalName = nativeName(worker.components[worker.componentCount - 1]);
        const Directory& folder = innermostFolder(worker.folders);
        const FileSystemStatus committed =
            writer.atFinalName
                ? finishNewFile(writer.file, folder, finalName, zipEntryTime(entry))
                : commitOutputFile(writer.file, folder, partName(worker), finalName, zipEntryTime(entry));
        addFileSystemProblem(report, pathBelow(worker, extraction, entry, worker.componentCount), committed,
                             "cannot write file");
        return;
    }
    if (writer.file != nullptr) {
        discardOutputFile(
            writer.file, innermostFolder(worker.folders),
            writer.atFinalName ? nativeName(worker.components[worker.componentCount - 1]) : partName(worker));
    }
    if (status == ZipStatus::outputFailed) {
        addWriterProblem(report, writer, extraction, entry);
    } else if (status == ZipStatus::damaged && zipEntryIsEncrypted(entry)) {
        // The cipher's check byte lets a wrong password through 1 time in 256;
        // it then shows up as bad data.
        addProblem(report, entry.name, entry.nameLength, "bad CRC or data (damaged, or wrong password)",
                   exitDamagedArchive);
    } else {
        addProblem(report, entry.name, entry.nameLength, zipStatusText(status), exitCodeFor(status));
    }
}

// Why the entry's name is refused, or nullptr.
const char* nameProblem(const ZipEntry& entry, const EntryName& name) {
    return name.text == undecodedName ? undecodableNameProblem(entry) : entryNameProblem(name.text, name.length);
}

void extractOne(WorkerState& worker, const Extraction& extraction, size_t index, Report& report) {
    const ZipEntry& entry = extraction.entries[index];
    if (const char* problem = nameProblem(entry, extraction.names[index])) {
        addProblem(report, entry.name, entry.nameLength, problem, exitRefusedEntryName);
        return;
    }
    takeComponents(worker, extraction.names[index]);
    if (zipEntryIsDirectory(entry)) {
        size_t failedCount = 0;
        const FileSystemStatus status = openFolders(worker, worker.componentCount, failedCount);
        if (status != FileSystemStatus::ok) {
            addFileSystemProblem(report, pathBelow(worker, extraction, entry, failedCount), status,
                                 "cannot create directory");
        } else {
            extraction.foldersMade[index] = true;
        }
        return;
    }
    extractFile(worker, extraction, entry, report);
}

void lock(const Extraction& extraction) {
    if (extraction.lock != nullptr) lockWorkers(extraction.lock);
}

void unlock(const Extraction& extraction) {
    if (extraction.lock != nullptr) unlockWorkers(extraction.lock);
}

// The folder an entry makes or stands in, as the length of the start of its
// name that names it: all of a folder entry's name, a file's up to its last
// separator.
size_t folderPartLength(const ZipEntry& entry, const EntryName& name) {
    size_t length = name.length;
    if (zipEntryIsDirectory(entry)) return length;
    while (length > 0 && !isNameSeparator(name.text[length - 1])) --length;
    return length;
}

// Whether entry `index` belongs to the run that starts at `first`: in the
// same folder, the run's files under runBytes in all.
bool sameRun(const Extraction& extraction, size_t first, size_t index, uint64_t runBytes) {
    constexpr uint64_t runBytesLimit = 1u << 20;
    const EntryName& a = extraction.names[first];
    const EntryName& b = extraction.names[index];
    const size_t length = folderPartLength(extraction.entries[first], a);
    return runBytes < runBytesLimit && folderPartLength(extraction.entries[index], b) == length &&
           (length == 0 || memcmp(a.text, b.text, length * sizeof(char16_t)) == 0);
}

// Takes runs of entries until none is left: the entries of one folder go to
// one worker, which makes the folder and keeps it open for all of them, while
// large files still go side by side. Each entry's lines wait for those of the
// entries before it.
void runWorker(Extraction& extraction, WorkerState& worker) {
    for (;;) {
        lock(extraction);
        const size_t first = extraction.nextEntry;
        size_t end = first;
        uint64_t runBytes = 0;
        while (end < extraction.count && (end == first || sameRun(extraction, first, end, runBytes))) {
            runBytes += extraction.entries[end++].uncompressedSize;
        }
        extraction.nextEntry = end;
        unlock(extraction);
        if (first >= extraction.count) break;
        for (size_t index = first; index < end; ++index) {
            Report report{};
            extractOne(worker, extraction, index, report);
            lock(extraction);
            extraction.reports[index] = report;
            extraction.finished[index] = true;
            while (extraction.printed < extraction.count && extraction.finished[extraction.printed]) {
                printReport(extraction.reports[extraction.printed++], *extraction.firstCode);
            }
            unlock(extraction);
        }
    }
    closeFoldersFrom(worker.folders, 0);
}

// Once everything is written, each folder entry's folder gets its time:
// writing inside it set its time to now. Opened again from the destination
// down as before; a folder that cannot be keeps the time it has.
void setFolderTimes(const Extraction& extraction, WorkerState& worker) {
    for (size_t index = 0; index < extraction.count; ++index) {
        if (!extraction.foldersMade[index]) continue;
        takeComponents(worker, extraction.names[index]);
        size_t failedCount = 0;
        if (openFolders(worker, worker.componentCount, failedCount) == FileSystemStatus::ok) {
            setDirectoryTime(innermostFolder(worker.folders), zipEntryTime(extraction.entries[index]));
        }
    }
    closeFoldersFrom(worker.folders, 0);
}

struct WorkerStart {
    Extraction* extraction;
    WorkerState* state;
};

void runWorkerThread(void* context) {
    const WorkerStart& start = *static_cast<WorkerStart*>(context);
    runWorker(*start.extraction, *start.state);
}

bool endsWithPartSuffix(const NameComponent& component) {
    const size_t stem = sizeof spareSuffixStart - 1;
    if (component.length < partSuffixLength) return false;
    const char16_t* suffix = component.text + component.length - partSuffixLength;
    for (size_t i = 0; i < stem; ++i) {
        const char16_t c =
            suffix[i] >= 'A' && suffix[i] <= 'Z' ? static_cast<char16_t>(suffix[i] - 'A' + 'a') : suffix[i];
        if (c != static_cast<unsigned char>(spareSuffixStart[i])) return false;
    }
    return true;
}

// Whether an entry extracted beside others could meet their part files: a
// component named like one, or of the form Windows may give one as its short
// name. Then entries go one at a time, as the names expect.
bool namesMeetPartFiles(const EntryName* names, size_t count) {
    for (size_t index = 0; index < count; ++index) {
        size_t position = 0;
        NameComponent component;
        while (nextNameComponent(names[index].text, names[index].length, position, component)) {
            if (endsWithPartSuffix(component) || isShortNameAlias(component.text, component.length)) return true;
        }
    }
    return false;
}

unsigned workersFor(const Extraction& extraction) {
    size_t files = 0;
    for (size_t index = 0; index < extraction.count; ++index) {
        files += zipEntryIsDirectory(extraction.entries[index]) ? 0 : 1;
    }
    unsigned workers = processorCount();
    if (workers > maxWorkers) workers = maxWorkers;
    if (workers > files) workers = static_cast<unsigned>(files);
    if (workers < 1 || namesMeetPartFiles(extraction.names, extraction.count)) workers = 1;
    return workers;
}

void extractEntries(Extraction& extraction) {
    for (size_t index = 0; index < extraction.count; ++index) {
        const EntryName& name = extraction.names[index];
        const size_t stored = extraction.entries[index].nameLength;
        if (stored > extraction.longestName) extraction.longestName = stored;
        const size_t components = nameComponentCount(name.text, name.length);
        if (components > extraction.mostComponents) extraction.mostComponents = components;
    }
    unsigned workers = workersFor(extraction);
    // One more than needed: an archive of no entries is no lack of memory.
    extraction.reports = static_cast<Report*>(calloc(extraction.count + 1, sizeof(Report)));
    extraction.finished = static_cast<bool*>(calloc(extraction.count + 1, sizeof(bool)));
    extraction.foldersMade = static_cast<bool*>(calloc(extraction.count + 1, sizeof(bool)));
    WorkerState states[maxWorkers];
    if (extraction.reports == nullptr || extraction.finished == nullptr || extraction.foldersMade == nullptr ||
        !startWorkerState(states[0], extraction)) {
        Report report{};
        addProblem(report, extraction.destination, zipStatusText(ZipStatus::outOfMemory), exitOutOfMemory);
        printReport(report, *extraction.firstCode);
        free(extraction.reports);
        free(extraction.finished);
        free(extraction.foldersMade);
        return;
    }
    extraction.lock = workers > 1 ? createWorkerLock() : nullptr;
    if (extraction.lock == nullptr) workers = 1;
    WorkerStart starts[maxWorkers];
    Worker* threads[maxWorkers] = {};
    unsigned started = 1;
    while (started < workers && startWorkerState(states[started], extraction)) {
        starts[started] = WorkerStart{&extraction, &states[started]};
        threads[started] = startWorker(runWorkerThread, &starts[started]);
        if (threads[started] == nullptr) {
            finishWorkerState(states[started]);
            break;
        }
        ++started;
    }
    runWorker(extraction, states[0]);
    for (unsigned index = 1; index < started; ++index) {
        if (threads[index] != nullptr) finishWorker(threads[index]);
        finishWorkerState(states[index]);
    }
    setFolderTimes(extraction, states[0]);
    finishWorkerState(states[0]);
    if (extraction.lock != nullptr) destroyWorkerLock(extraction.lock);
    free(extraction.reports);
    free(extraction.finished);
    free(extraction.foldersMade);
}

// ---------------------------------------------------------------- the archive as a whole

// Each entry's name in UTF-16, into one array of `units`; an entry whose name
// cannot be read gets undecodedName (and so takes no part in the clash check).
EntryName* decodeNames(const ZipEntry* entries, size_t count, char16_t*& units) {
    size_t total = 1;
    for (size_t index = 0; index < count; ++index) total += entries[index].nameLength;
    EntryName* names = static_cast<EntryName*>(malloc((count + 1) * sizeof(EntryName)));
    units = static_cast<char16_t*>(malloc(total * sizeof(char16_t)));
    if (names == nullptr || units == nullptr) {
        free(names);
        free(units);
        units = nullptr;
        return nullptr;
    }
    char16_t* at = units;
    for (size_t index = 0; index < count; ++index) {
        const size_t length = decodeEntryName(entries[index], decodeOemName, at);
        names[index] = length == undecodableName ? EntryName{undecodedName, 0} : EntryName{at, length};
        if (length != undecodableName) at += length;
    }
    return names;
}

// Two entries that would be one file on Windows: which one the package gets
// would depend on their order. Refused whole, before anything is written;
// also when there is no memory to look.
bool refuseClashingNames(const ZipEntry* entries, const EntryName* names, size_t count, const char* archivePath,
                         Report& report) {
    EntryClash* clashes = static_cast<EntryClash*>(malloc((count + 1) * sizeof(EntryClash)));
    void* work = nullptr;
    if (clashes != nullptr) {
        const size_t workSize = entryClashWorkSize(names, count);
        if (workSize < SIZE_MAX) work = malloc(workSize + 1);
    }
    if (work == nullptr) {
        addProblem(report, archivePath, zipStatusText(ZipStatus::outOfMemory), exitOutOfMemory);
        free(clashes);
        return true;
    }
    const size_t found = findEntryClashes(names, count, work, clashes);
    for (size_t i = 0; i < found; ++i) {
        const ZipEntry& entry = entries[clashes[i].entry];
        const ZipEntry& other = entries[clashes[i].other];
        beginProblem(report, entry.name, entry.nameLength);
        addText(report, "names the same file as ");
        addPrintable(report, other.name, other.nameLength);
        addText(report, " on Windows (");
        addText(report, clashes[i].reason);
        addText(report, "); nothing is extracted");
        endProblem(report, exitRefusedEntryName);
    }
    free(work);
    free(clashes);
    return found > 0;
}

// Entries sharing stored bytes: refused whole, as Info-ZIP does.
bool refuseOverlappingEntries(const ArchiveInput& input, const ZipDirectoryPlace& place, const ZipEntry* entries,
                              size_t count, const char* archivePath, Report& report) {
    ZipPart* parts = static_cast<ZipPart*>(malloc((count + 1) * sizeof(ZipPart)));
    ZipOverlap* overlaps = static_cast<ZipOverlap*>(malloc((count + 1) * sizeof(ZipOverlap)));
    size_t found = 0;
    const ZipStatus status = parts == nullptr || overlaps == nullptr
                                 ? ZipStatus::outOfMemory
                                 : findOverlappingEntries(input, place, entries, count, parts, overlaps, found);
    if (status != ZipStatus::ok) addProblem(report, archivePath, zipStatusText(status), exitCodeFor(status));
    for (size_t i = 0; i < found; ++i) {
        const ZipEntry& entry = entries[overlaps[i].entry];
        beginProblem(report, entry.name, entry.nameLength);
        addText(report, "its data overlaps ");
        if (overlaps[i].other < count) {
            addPrintable(report, entries[overlaps[i].other].name, entries[overlaps[i].other].nameLength);
        } else {
            addText(report, "the central directory");
        }
        addText(report, " (a possible zip bomb); nothing is extracted");
        endProblem(report, exitRefusedEntryName);
    }
    free(parts);
    free(overlaps);
    return status != ZipStatus::ok || found > 0;
}

// What the archive says it will write: the declared sizes of the files that
// will be tried. Entries refused by name, and those whose data is not in the
// archive (refused as damaged before they write anything), do not count.
uint64_t declaredBytesToWrite(const ArchiveInput& input, const ZipEntry* entries, const EntryName* names,
                              size_t count) {
    uint64_t total = 0;
    for (size_t index = 0; index < count; ++index) {
        const ZipEntry& entry = entries[index];
        ZipExtent extent{};
        if (!zipEntryIsDirectory(entry) && nameProblem(entry, names[index]) == nullptr &&
            findEntryExtent(input, entry, extent) == ZipStatus::ok) {
            // Declared sizes are the archive's word: a sum past 2^64 is "too much".
            total = entry.uncompressedSize > UINT64_MAX - total ? UINT64_MAX : total + entry.uncompressedSize;
        }
    }
    return total;
}

// A volume that cannot take what the archive declares is refused before the
// first byte, rather than filled and left with part of a package.
bool refuseWithoutSpace(const Extraction& extraction, const Directory& directory, Report& report) {
    uint64_t freeBytes = 0;
    const uint64_t needed =
        declaredBytesToWrite(*extraction.scan, extraction.entries, extraction.names, extraction.count);
    // When the system cannot say, writing finds out.
    if (!queryFreeSpace(directory, freeBytes) || needed <= freeBytes) return false;
    beginProblem(report, extraction.destination, strlen(extraction.destination));
    addText(report, "the archive declares ");
    addDecimal(report, needed);
    addText(report, " bytes, but only ");
    addDecimal(report, freeBytes);
    addText(report, " are free there; nothing is extracted");
    endProblem(report, exitWriteFailed);
    return true;
}

// The entries that survive the checks of the whole archive, extracted below
// the destination, made first when missing; or the problem with it.
void extractInto(Extraction& extraction, int& firstCode) {
    Report report{};
    const char* destination = extraction.destination;
    const size_t length = destinationDirectoryLength(destination, strlen(destination));
    char* directoryPath = static_cast<char*>(malloc(length + 1));
    if (directoryPath == nullptr) {
        addProblem(report, destination, zipStatusText(ZipStatus::outOfMemory), exitOutOfMemory);
        printReport(report, firstCode);
        return;
    }
    memcpy(directoryPath, destination, length);
    directoryPath[length] = 0;
    extraction.destination = directoryPath;
    extraction.destinationLength = length;
    Directory* directory = nullptr;
    const FileSystemStatus opened = openDestination(directoryPath, directory);
    if (opened != FileSystemStatus::ok) {
        addFileSystemProblem(report, directoryPath, opened, "cannot create destination directory");
    } else {
        if (!refuseWithoutSpace(extraction, *directory, report)) {
            extraction.destinationFolder = directory;
            extractEntries(extraction);
        }
        closeDirectory(directory);
    }
    printReport(report, firstCode);
    free(directoryPath);
}

// The directory's records and their names, read whole.
struct ReadDirectory {
    ZipDirectoryPlace place;
    uint8_t* bytes;
    ZipEntry* entries;
    size_t count;
    EntryName* names;
    char16_t* nameUnits;
};

ZipStatus readDirectory(const ArchiveInput& input, ReadDirectory& read) {
    read = ReadDirectory{};
    ZipStatus status = findCentralDirectory(input, read.place);
    if (status != ZipStatus::ok) return status;
    const uint64_t capacity = zipEntryCapacity(read.place) + 1;
    if (read.place.size >= SIZE_MAX || capacity > SIZE_MAX / sizeof(ZipEntry)) return ZipStatus::outOfMemory;
    read.bytes = static_cast<uint8_t*>(malloc(static_cast<size_t>(read.place.size) + 1));
    read.entries = static_cast<ZipEntry*>(malloc(static_cast<size_t>(capacity) * sizeof(ZipEntry)));
    if (read.bytes == nullptr || read.entries == nullptr) return ZipStatus::outOfMemory;
    status = readCentralDirectory(input, read.place, read.bytes, read.entries, read.count);
    read.names = decodeNames(read.entries, read.count, read.nameUnits);
    return read.names == nullptr ? ZipStatus::outOfMemory : status;
}

void freeDirectory(ReadDirectory& read) {
    free(read.bytes);
    free(read.entries);
    free(read.names);
    free(read.nameUnits);
}

}  // namespace

int extractArchive(const char* archivePath, const char* password, const char* destination) {
    int firstCode = exitSuccess;
    Report report{};
    InputFile* file = openInputFile(archivePath);
    if (file == nullptr) {
        addProblem(report, archivePath, "cannot open archive", exitArchiveUnreadable);
        printReport(report, firstCode);
        return firstCode;
    }
    const ArchiveInput input = inputFileArchive(file);
    // The checks of the whole archive read every entry's local header in
    // order: through a window too, when there is memory for one.
    ReadAhead scanWindow{&input, static_cast<uint8_t*>(malloc(readAheadSize)), 0, 0};
    const ArchiveInput scan = scanWindow.bytes != nullptr ? ArchiveInput{input.size, readThrough, &scanWindow} : input;
    ReadDirectory read;
    const ZipStatus status = readDirectory(input, read);
    if (status != ZipStatus::ok) addProblem(report, archivePath, zipStatusText(status), exitCodeFor(status));

    // A damaged directory may still have yielded entries that can be saved.
    if (read.names != nullptr && (status == ZipStatus::ok || read.count > 0) &&
        !refuseClashingNames(read.entries, read.names, read.count, archivePath, report) &&
        !refuseOverlappingEntries(scan, read.place, read.entries, read.count, archivePath, report)) {
        // The archive's own lines come first; the entries' follow as they are done.
        printReport(report, firstCode);
        Extraction extraction{};
        extraction.input = &input;
        extraction.scan = &scan;
        extraction.entries = read.entries;
        extraction.names = read.names;
        extraction.count = read.count;
        extraction.password = password;
        extraction.destination = destination;
        extraction.firstCode = &firstCode;
        extractInto(extraction, firstCode);
    }
    printReport(report, firstCode);
    freeDirectory(read);
    free(scanWindow.bytes);
    closeInputFile(file);
    return firstCode;
}
