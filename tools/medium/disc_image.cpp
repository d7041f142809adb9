#include "disc_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "command_line.h"
#include "file_io.h"
#include "host_program.h"
#include "medium_names.h"
#include "staging.h"

namespace {

// Where the first volume descriptor's "CD001" stands: sector 16, byte 1.
constexpr off_t volumeDescriptorOffset = 16 * 2048 + 1;

bool isLabelCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '_' ||
           c == '-' || c == '.';
}

// The common start of every xorriso run: no start-up files of the user's,
// only real failures reported.
std::vector<std::string> xorrisoCommand(const std::string& tool) {
    return {tool, "-no_rc", "-report_about", "SORRY", "-abort_on", "FAILURE"};
}

// How an image is read: as Windows does.
void addReadingOptions(std::vector<std::string>& command) {
    command.insert(command.end(), {"-read_fs", "norock", "-ecma119_map", "lowercase"});
}

std::string xorrisoError(const ProgramResult& run) {
    std::string said;
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" : FAILURE : ") != std::string::npos || line.find(" : SORRY : ") != std::string::npos ||
            line.find(" : FATAL : ") != std::string::npos) {
            said += (said.empty() ? "" : "; ") + printable(line.substr(line.find(" : ") + 3));
        }
    }
    return said.empty() ? "xorriso ended with status " + std::to_string(run.status) : said;
}

// The text between the first and last single quote, as xorriso quotes
// names ('it'"'"'s' for it's).
std::string unquoted(const std::string& text) {
    const size_t first = text.find('\'');
    const size_t last = text.rfind('\'');
    if (first == std::string::npos || last <= first) return "";
    std::string inner = text.substr(first + 1, last - first - 1);
    const std::string escapedQuote = "'\"'\"'";
    for (size_t at = inner.find(escapedQuote); at != std::string::npos; at = inner.find(escapedQuote, at + 1)) {
        inner.replace(at, escapedQuote.size(), "'");
    }
    return inner;
}

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

// What a signal handler removes: the copies' paths, made beforehand, as
// nothing may be allocated there. One copy at a time.
constexpr size_t copyPathRoom = 4096;
char signalCopyFolder[copyPathRoom];
char signalCopyFiles[sizeof mediumFolderNames / sizeof mediumFolderNames[0]][copyPathRoom];
const int copySignals[] = {SIGINT, SIGTERM, SIGHUP};

void removeCopyAndEnd(int signal) {
    for (const char* file : signalCopyFiles) {
        if (file[0] != '\0') unlink(file);
    }
    if (signalCopyFolder[0] != '\0') rmdir(signalCopyFolder);
    (void)std::signal(signal, SIG_DFL);
    (void)std::raise(signal);
}

}  // namespace

std::string autorunProblem(const std::string& text) {
    bool inAutorun = false;
    bool sectionSeen = false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == ';') continue;
        line = line.substr(start);
        if (line.front() == '[') {
            inAutorun = lowerCase(line) == "[autorun]";
            sectionSeen = sectionSeen || inAutorun;
            continue;
        }
        const size_t equals = line.find('=');
        if (!inAutorun || equals == std::string::npos) continue;
        std::string key = line.substr(0, equals);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        if (lowerCase(key) != "open") continue;
        const std::string value = line.substr(line.find_first_not_of(' ', equals + 1) == std::string::npos
                                                  ? line.size()
                                                  : line.find_first_not_of(' ', equals + 1));
        if (lowerCase(value) == launcherFileName) return "";
        return "its open= names " + quoted(value) + ", not " + launcherFileName;
    }
    return sectionSeen ? std::string("its [autorun] section has no open=") : "it has no [autorun] section";
}

DiscCopy::DiscCopy(bool removeOnSignal) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = joinHostPath(base != nullptr && *base != '\0' ? base : "/tmp", "kestrune-medium-disc-XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) return;
    path = buffer.data();
    if (!removeOnSignal || path.size() + 32 >= copyPathRoom) return;
    size_t i = 0;
    for (const char* name : mediumFolderNames) {
        const std::string file = joinHostPath(path, name);
        std::memcpy(signalCopyFiles[i++], file.c_str(), file.size() + 1);
    }
    std::memcpy(signalCopyFolder, path.c_str(), path.size() + 1);
    for (int signal : copySignals) {
        struct sigaction action {};
        action.sa_handler = removeCopyAndEnd;
        sigemptyset(&action.sa_mask);
        for (int other : copySignals) sigaddset(&action.sa_mask, other);
        sigaction(signal, &action, nullptr);
    }
}

DiscCopy::~DiscCopy() {
    if (!path.empty()) removeTree(path);
    if (signalCopyFolder[0] != '\0' && path == signalCopyFolder) {
        for (int signal : copySignals) (void)std::signal(signal, SIG_DFL);
        signalCopyFolder[0] = '\0';
        for (char* file : signalCopyFiles) file[0] = '\0';
    }
}

std::string discLabelProblem(const std::string& label) {
    if (label.empty()) return "a disc label must not be empty";
    if (label.size() > maxDiscLabelLength) {
        return "a disc label may hold at most " + std::to_string(maxDiscLabelLength) +
               " characters (a Joliet volume name's room); this one has " + std::to_string(label.size());
    }
    if (!std::all_of(label.begin(), label.end(), isLabelCharacter)) {
        return "a disc label may hold only letters, digits, blanks, '_', '-' and '.'";
    }
    if (label.front() == ' ' || label.back() == ' ') return "a disc label must not start or end with a blank";
    return "";
}

std::string defaultDiscLabel(const std::string& imagePath) {
    std::string name = imagePath.substr(imagePath.rfind('/') == std::string::npos ? 0 : imagePath.rfind('/') + 1);
    const std::string suffix = ".iso";
    if (name.size() > suffix.size()) {
        std::string ending = name.substr(name.size() - suffix.size());
        for (char& c : ending) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (ending == suffix) name.resize(name.size() - suffix.size());
    }
    for (char& c : name) {
        if (!isLabelCharacter(c) || c == ' ') c = '_';
    }
    if (name.size() > maxDiscLabelLength) name.resize(maxDiscLabelLength);
    return name.empty() ? "KESTRUNE" : name;
}

std::string autorunText(const std::string& label) {
    return std::string("[autorun]\r\nopen=") + launcherFileName + "\r\nlabel=" + label + "\r\n";
}

bool isDiscImage(const std::string& path) {
    Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    char magic[5] = {};
    return file.fd >= 0 && pread(file.fd, magic, sizeof magic, volumeDescriptorOffset) == sizeof magic &&
           std::string(magic, sizeof magic) == "CD001";
}

bool writeDiscImage(const std::string& tool, const std::vector<DiscFile>& files, const std::string& label,
                    long long epoch, const std::string& output, std::string& error) {
    // Rock Ridge is left out: Windows does not read it, and it would carry
    // this machine's owners and modes.
    std::vector<std::string> command = xorrisoCommand(tool);
    command.insert(command.end(), {"-outdev", output, "-volid", label, "-joliet", "on", "-rockridge", "off"});
    if (epoch >= 0) {
        const std::string when = "=" + std::to_string(epoch);
        for (const char* date : {"c", "m", "all_file_dates"})
            command.insert(command.end(), {"-volume_date", date, when});
    }
    for (const DiscFile& file : files) command.insert(command.end(), {"-map", file.hostPath, "/" + file.name});
    command.insert(command.end(), {"-commit", "-end"});
    const ProgramResult run = runHostProgram(command, interruptRequested);
    if (!run.started) {
        error = "cannot start " + quoted(tool) + ": " + run.err;
        return false;
    }
    if (run.status != 0 || !isDiscImage(output)) {
        error = "xorriso could not write the disc image " + quoted(output) + ": " + xorrisoError(run);
        return false;
    }
    return true;
}

DiscListing readDiscReport(const std::string& report) {
    DiscListing listing;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Volume Id    :", 0) == 0) {
            listing.label = line.size() > 15 ? line.substr(15) : "";
        } else if (line.rfind("ISO loaded", 0) == 0) {
            listing.joliet = line.find("Joliet") != std::string::npos;
        } else if (!line.empty() && (line[0] == '-' || line[0] == 'd') && line.find('\'') != std::string::npos &&
                   line.find(' ') == 10) {
            const std::string name = unquoted(line.substr(line.find('\'')));
            if (!name.empty()) (line[0] == 'd' ? listing.folders : listing.files).push_back(name);
        }
    }
    std::sort(listing.files.begin(), listing.files.end());
    std::sort(listing.folders.begin(), listing.folders.end());
    return listing;
}

bool readDiscImage(const std::string& tool, const std::string& image, DiscListing& listing, std::string& error) {
    std::vector<std::string> command = xorrisoCommand(tool);
    addReadingOptions(command);
    command.insert(command.end(), {"-indev", image, "-pvd_info", "-toc", "-lsl", "/", "-end"});
    const ProgramResult run = runHostProgram(command);
    if (!run.started || run.status != 0) {
        error =
            "xorriso cannot read the disc image " + quoted(image) + ": " + (run.started ? xorrisoError(run) : run.err);
        return false;
    }
    listing = readDiscReport(run.out);
    return true;
}

bool extractFromDiscImage(const std::string& tool, const std::string& image, const std::vector<std::string>& names,
                          const std::string& folder, std::string& error) {
    if (names.empty()) return true;
    std::vector<std::string> command = xorrisoCommand(tool);
    addReadingOptions(command);
    command.insert(command.end(), {"-osirrox", "on", "-indev", image, "-extract_l", "/", folder});
    for (const std::string& name : names) command.push_back("/" + name);
    command.insert(command.end(), {"--", "-end"});
    const ProgramResult run = runHostProgram(command, interruptRequested);
    if (!run.started || run.status != 0) {
        error = "xorriso cannot copy the medium out of " + quoted(image) + ": " +
                (run.started ? xorrisoError(run) : run.err);
        return false;
    }
    return true;
}
