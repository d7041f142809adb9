// The help of kestrune-medium: `--help`, `help COMMAND` and `COMMAND -h`.
#include <cstdio>

#include "commands.h"

namespace {

struct CommandHelp {
    const char* name;
    const char* synopsis;
    const char* text;  // what `help COMMAND` adds to the synopsis
};

const CommandHelp commandHelps[] = {
    {"build",
     "build PAYLOAD_DIR --out DIR [--launcher setup.exe] [--extractor unzip.exe]\n"
     "        [--marker TAG]... [--any-marker] [--exclude PATTERN]... [--no-default-excludes]\n"
     "        [--package-dir WINPATH] [--temp WINPATH] [--force]",
     "Lays out a medium in DIR: package.zip (the payload; each file deflated and\n"
     "encrypted with the launcher's package password, folders stored as zip -P\n"
     "stores them; SETUP.EXE must stand at its root), setup.exe with one marker\n"
     "line per --marker, and unzip.exe.\n"
     "\n"
     "Before it writes anything it refuses, listing every problem at once, what\n"
     "`check` would report of the medium: names Windows or unzip.exe would change\n"
     "or refuse, names Windows takes for one file, paths or command lines too long\n"
     "for the launcher at --package-dir (default D:\\) with the temporary folder\n"
     "--temp (default C:\\Users\\Default\\AppData\\Local\\Temp\\), and marker lines\n"
     "the launcher would not see. It packs only regular files and folders: a\n"
     "symbolic link, device, FIFO or socket in the payload is refused.\n"
     "\n"
     "  --marker TAG       a tag the launcher knows (msi.tag); --any-marker allows\n"
     "                     others, which the launcher ignores\n"
     "  --exclude PATTERN  leaves out names matching PATTERN (shell wildcards; with\n"
     "                     a '/', matched against the path below PAYLOAD_DIR; a\n"
     "                     final '/' matches folders only). .git and .DS_Store are\n"
     "                     left out by default; --no-default-excludes packs them\n"
     "  --force            replaces DIR when it holds a medium (setup.exe,\n"
     "                     unzip.exe, package.zip, autorun.inf) and nothing else;\n"
     "                     its owner, mode and autorun.inf are kept\n"
     "\n"
     "DIR must be missing or empty otherwise. The medium is built in a hidden\n"
     "folder beside DIR and renamed into place when complete. With\n"
     "SOURCE_DATE_EPOCH set, no entry is dated later and package.zip is the same\n"
     "byte for byte for the same payload."},
    {"mark", "mark FILE TAG... [--any-marker] [--any-file]",
     "Appends marker lines (\"TAG \\r\\n\") to the launcher FILE; a tag whose line the\n"
     "launcher already sees is not appended again. On a signed FILE the lines go\n"
     "inside its signature instead, with the lines it held, so that the launcher\n"
     "sees them and the signature stays valid. FILE must be a kestrune launcher\n"
     "built with this tool's package password; --any-file marks any Windows\n"
     "program. Tags as for build --marker."},
    {"markers", "markers FILE [--ca-file CERTS]",
     "Lists the marker tags the launcher sees in the last 256 bytes of FILE, the\n"
     "marker lines that stand outside that window, and FILE's signature: none, or\n"
     "by whom and whether it verifies (osslsigncode verify). A marker line the\n"
     "launcher does not see, or a signature that does not verify, is a\n"
     "\"problem: ...\" line and exit status 1.\n"
     "\n"
     "  --ca-file CERTS  the certificates the signature (and its time stamp) must\n"
     "                   chain to; without it, this machine's, and a chain they do\n"
     "                   not trust is only a warning"},
    {"check", "check MEDIUM [--package-dir WINPATH] [--temp WINPATH] [--ca-file CERTS]",
     "Checks a medium (a folder, or a disc image that build --iso wrote): its files,\n"
     "the archive's password and CRCs, every name as build checks it, SETUP.EXE\n"
     "and PostProcess.cmd, the markers and the setup form of a silent run, the\n"
     "signatures of setup.exe and unzip.exe (as markers does), and that every path\n"
     "and command line the launcher composes fits in 259 characters when the\n"
     "medium is at WINPATH (default D:\\) and the temporary path is --temp (default\n"
     "C:\\Users\\Default\\AppData\\Local\\Temp\\). Prints one \"problem: ...\" line per\n"
     "problem; exits 1 if there is any."},
    {"sign", "sign MEDIUM --cert CERT --key KEY [--pass-file FILE] [--timestamp URL]",
     "Signs the medium's setup.exe and unzip.exe (Authenticode, through\n"
     "osslsigncode) with the certificate CERT and its private key KEY, and puts the\n"
     "marker lines setup.exe held inside the new signature, in the last 256 bytes,\n"
     "where the launcher sees them and the signature stays valid. A signed medium\n"
     "is signed again the same way. MEDIUM is a medium folder or a disc image\n"
     "that build --iso wrote, which is written again with the signed programs.\n"
     "\n"
     "  --pass-file FILE  holds the password of an encrypted KEY, on one line\n"
     "  --timestamp URL   an RFC 3161 time-stamping service, so that the signature\n"
     "                    outlives the certificate\n"
     "\n"
     "Both programs are signed and checked with osslsigncode verify before either\n"
     "is replaced. Neither the key nor its password is ever printed."},
    {"help", "help [COMMAND]", "Shows this overview, or the help of one command."},
};

const char* const footer =
    "Exit status: 0 done, 1 failed or problems found, 2 wrong command line.\n"
    "kestrune-medium --version shows the version; COMMAND -h the command's help.\n";

const CommandHelp* findHelp(const std::string& command) {
    for (const CommandHelp& help : commandHelps) {
        if (command == help.name) return &help;
    }
    return nullptr;
}

}  // namespace

const char* const mediumVersion = KESTRUNE_MEDIUM_VERSION;

std::vector<std::string> commandNames() {
    std::vector<std::string> names;
    for (const CommandHelp& help : commandHelps) names.push_back(help.name);
    return names;
}

void printOverview(std::FILE* stream) {
    std::fputs("usage: kestrune-medium COMMAND ...\n\n", stream);
    for (const CommandHelp& help : commandHelps) std::fprintf(stream, "  %s\n", help.synopsis);
    std::fputs("\n", stream);
    std::fputs(footer, stream);
}

bool printCommandHelp(const std::string& command, std::FILE* stream) {
    const CommandHelp* help = findHelp(command);
    if (help == nullptr) return false;
    std::fprintf(stream, "usage: kestrune-medium %s\n\n%s\n\n%s", help->synopsis, help->text, footer);
    return true;
}

const OptionRule shortHelpOption = {"-h", false, false};
const OptionRule longHelpOption = {"--help", false, false};

int usageError(const char* command, const std::string& message) {
    printError(message);
    if (findHelp(command) != nullptr && std::string(command) != "help") {
        std::fprintf(stderr, "see: kestrune-medium help %s\n", command);
    } else {
        std::fputs("see: kestrune-medium --help\n", stderr);
    }
    return exitUsage;
}

bool parseCommand(const char* command, const std::vector<std::string>& arguments, std::vector<OptionRule> rules,
                  ParsedArguments& parsed, int& status) {
    rules.push_back(shortHelpOption);
    rules.push_back(longHelpOption);
    std::string error;
    if (!parseArguments(arguments, rules, parsed, error)) {
        status = usageError(command, error);
        return false;
    }
    if (parsed.has(shortHelpOption.name) || parsed.has(longHelpOption.name)) {
        printCommandHelp(command, stdout);
        status = exitOk;
        return false;
    }
    return true;
}
