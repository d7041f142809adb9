#include "archive_writer.h"

#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "command_line.h"
#include "file_io.h"
#include "progress.h"

namespace {

// What went wrong first while libzip read the payload; libzip's own message
// does not say which file it was.
struct WriteFailure {
    std::string text;
    void note(const std::string& message) {
        if (text.empty()) text = message;
    }
};

struct WriteState {
    const ArchiveWriteOptions* options;
    Progress progress;
    WriteFailure failure;
};

// One payload file as a libzip source. It reads the file itself (rather than
// zip_source_file) to count bytes for the progress line, to stop on an
// interrupt, and to refuse a file that changes size while it is packed.
struct FileSource {
    const PayloadEntry* entry;
    WriteState* state;
    int fd = -1;
    uint64_t delivered = 0;
    zip_error_t error;
};

bool cancelled(const WriteState& state) {
    return state.options->cancelled != nullptr && state.options->cancelled();
}

zip_int64_t failSource(FileSource& source, int zipError, int systemError, const std::string& message) {
    source.state->failure.note(message);
    zip_error_set(&source.error, zipError, systemError);
    return -1;
}

zip_int64_t openSource(FileSource& source) {
    source.fd = open(source.entry->hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (source.fd < 0) {
        return failSource(source, ZIP_ER_OPEN, errno,
                          "cannot read " + source.entry->hostPath + ": " + systemErrorText(errno));
    }
    // libzip may read a source again; its bytes are then counted again.
    source.state->progress.bytesDone -= source.delivered;
    if (source.delivered == 0) progressFileStarted(source.state->progress);
    source.delivered = 0;
    return 0;
}

zip_int64_t readSource(FileSource& source, void* data, zip_uint64_t length) {
    if (cancelled(*source.state)) return failSource(source, ZIP_ER_CANCELLED, 0, "interrupted");
    for (;;) {
        const ssize_t got = read(source.fd, data, length);
        if (got < 0 && errno == EINTR) {
            if (cancelled(*source.state)) return failSource(source, ZIP_ER_CANCELLED, 0, "interrupted");
            continue;
        }
        if (got < 0) {
            return failSource(source, ZIP_ER_READ, errno,
                              "cannot read " + source.entry->hostPath + ": " + systemErrorText(errno));
        }
        source.delivered += static_cast<uint64_t>(got);
        // The size went into the headers' plan: a file that grew or shrank
        // would give an entry that is not what was listed.
        if (source.delivered > source.entry->size || (got == 0 && source.delivered != source.entry->size)) {
            return failSource(source, ZIP_ER_READ, 0, source.entry->hostPath + " changed while it was packed");
        }
        progressBytes(source.state->progress, static_cast<uint64_t>(got));
        return got;
    }
}

zip_int64_t fileSourceCallback(void* userdata, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    FileSource& source = *static_cast<FileSource*>(userdata);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        return openSource(source);
    case ZIP_SOURCE_READ:
        return readSource(source, data, length);
    case ZIP_SOURCE_CLOSE:
        if (source.fd >= 0) close(source.fd);
        source.fd = -1;
        return 0;
    case ZIP_SOURCE_STAT: {
        zip_stat_t* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &source.error);
        if (stat == nullptr) return -1;
        zip_stat_init(stat);
        stat->size = source.entry->size;
        stat->mtime = source.entry->modified;
        stat->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&source.error, data, length);
    case ZIP_SOURCE_FREE:
        if (source.fd >= 0) close(source.fd);
        source.fd = -1;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&source.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// libzip asks this between writes; nonzero stops zip_close.
int cancelCallback(zip_t*, void* userdata) {
    return cancelled(*static_cast<WriteState*>(userdata)) ? 1 : 0;
}

std::string archiveError(zip_t* archive, const std::string& path, const std::string& step) {
    return "cannot " + step + " " + path + ": " + zip_strerror(archive);
}

bool addEntry(zip_t* archive, const PayloadEntry& entry, FileSource* source, const char* password,
              const std::string& path, std::string& error) {
    zip_int64_t index = -1;
    if (entry.directory) {
        std::string name = entry.name;
        name.pop_back();  // zip_dir_add puts the '/' back
        index = zip_dir_add(archive, name.c_str(), ZIP_FL_ENC_GUESS);
    } else {
        zip_source_t* data = zip_source_function(archive, fileSourceCallback, source);
        if (data == nullptr) {
            error = archiveError(archive, path, "add " + printable(entry.name) + " to");
            return false;
        }
        index = zip_file_add(archive, entry.name.c_str(), data, ZIP_FL_ENC_GUESS);
        if (index < 0) zip_source_free(data);
    }
    const zip_uint64_t at = static_cast<zip_uint64_t>(index);
    if (index < 0 || zip_set_file_compression(archive, at, entry.directory ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0) != 0 ||
        zip_file_set_encryption(archive, at, ZIP_EM_TRAD_PKWARE, password) != 0 ||
        zip_file_set_mtime(archive, at, entry.modified, 0) != 0) {
        error = archiveError(archive, path, "add " + printable(entry.name) + " to");
        return false;
    }
    return true;
}

}  // namespace

bool writePackageArchive(const Payload& payload, const std::string& path, const ArchiveWriteOptions& options,
                         std::string& error) {
    int openError = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_EXCL, &openError);
    if (archive == nullptr) {
        zip_error_t details;
        zip_error_init_with_code(&details, openError);
        error = "cannot create " + path + ": " + zip_error_strerror(&details);
        zip_error_fini(&details);
        return false;
    }
    WriteState state{&options, {}, {}};
    // The sources point into this vector: it is sized once and never moves.
    std::vector<FileSource> sources(payload.entries.size());
    for (size_t i = 0; i < payload.entries.size(); ++i) {
        sources[i].entry = &payload.entries[i];
        sources[i].state = &state;
        zip_error_init(&sources[i].error);
        if (!addEntry(archive, payload.entries[i], &sources[i], options.password, path, error)) {
            zip_discard(archive);
            return false;
        }
    }
    zip_register_cancel_callback_with_state(archive, cancelCallback, nullptr, &state);

    // libzip packs everything here, into a temporary file it renames to `path`.
    state.progress = startProgress("packing", payload.fileCount, payload.totalBytes, options.showProgress);
    const bool closed = zip_close(archive) == 0;
    finishProgress(state.progress);
    if (!closed) {
        error = !state.failure.text.empty() ? state.failure.text
                : cancelled(state)          ? "interrupted"
                                            : archiveError(archive, path, "write");
        zip_discard(archive);
    }
    for (FileSource& source : sources) zip_error_fini(&source.error);
    return closed;
}
