// The help of kestrune-medium: `--help`, `help COMMAND` and `COMMAND -h`,
// and the options each command takes. Every text the help shows stands
// here, so that the commands, their help and a manual page made from it
// cannot drift apart: a command parses exactly the options listed for it.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "launch_plan.h"
#include "signature_report.h"

namespace {

struct OptionHelp {
    OptionRule rule;
    const char* argument;  // "DIR", or "" for a flag
    const char* text;      // lines separated by '\n'
};

struct CommandHelp {
    const char* name;
    const char* synopsis;
    const char* text;  // what `help COMMAND` says before the options
    std::vector<OptionHelp> options;
    const char* notes;  // what it says after them, or ""
};

// The column the options' texts start in.
constexpr int optionColumn = 25;

const std::vector<CommandHelp>& commandHelps() {
    static const std::vector<CommandHelp> helps = {
        {"build",
         "build PAYLOAD_DIR (--out DIR | --iso FILE [--label LABEL]) [--launcher setup.exe]\n"
         "        [--extractor unzip.exe] [--marker TAG]... [--any-marker] [--exclude PATTERN]...\n"
         "        [--no-default-excludes] [--package-dir WINPATH] [--temp WINPATH] [--force]",
         "Makes a medium from the payload folder PAYLOAD_DIR: package.zip (the payload;\n"
         "each file deflated and encrypted with the launcher's package password,\n"
         "folders stored as zip -P stores them; a SETUP.EXE, in any case, must stand\n"
         "at its root), setup.exe with one marker line per --marker, and unzip.exe;\n"
         "in the folder DIR, in the disc image FILE, or both.\n"
         "\n"
         "Before it writes anything it refuses, listing every problem at once, what\n"
         "`check` would report of the medium: names Windows or unzip.exe would change\n"
         "or refuse, names Windows takes for one file, paths or command lines too long\n"
         "for the launcher, and marker lines the launcher would not see. It packs only\n"
         "regular files and folders: a symbolic link, device, FIFO or socket in the\n"
         "payload is refused. It warns when the silent form the medium passes does not\n"
         "make the installer behind SETUP.EXE silent (see check --strict).",
         {
             {{"--out", true, false}, "DIR", "the folder to lay the medium out in: missing or empty"},
             {{"--iso", true, false},
              "FILE",
              "the disc image to write (ISO 9660 with Joliet names, the\n"
              "medium's files and an autorun.inf that starts setup.exe)"},
             {{"--label", true, false},
              "LABEL",
              "the label of the disc --iso writes: 1 to 16 letters, digits,\n"
              "blanks, '_', '-' or '.'; by default FILE's name without .iso"},
             {{"--launcher", true, false},
              "FILE",
              "the launcher to put on the medium as setup.exe (by default\n"
              "the one scripts/build.sh made)"},
             {{"--extractor", true, false},
              "FILE",
              "the extraction tool to put on the medium as unzip.exe (by\n"
              "default the one scripts/build.sh made)"},
             {{"--marker", true, true},
              "TAG",
              "a marker line for setup.exe; a tag the launcher knows (msi.tag:\n"
              "silent runs pass /qn REBOOT=ReallySuppress, not -s -SMS;\n"
              "exitcode.tag: the run's exit code is the installer's own, 1603\n"
              "when the installer never started, 1618 when it still ran after\n"
              "six minutes, instead of 1 for every run)"},
             {{"--any-marker", false, false}, "", "allows tags the launcher does not know, which it ignores"},
             {{"--exclude", true, true},
              "PATTERN",
              "leaves out names matching PATTERN (shell wildcards; with a\n"
              "'/', matched against the path below PAYLOAD_DIR; a final '/'\n"
              "matches folders only)"},
             {{"--no-default-excludes", false, false}, "", "packs .git and .DS_Store, which are left out by default"},
             {packageDirectoryOption, "WINPATH",
              "the folder the medium will be in on Windows, for the length\n"
              "checks (default D:\\)"},
             {temporaryPathOption, "WINPATH",
              "the temporary path of the user who runs it, for the length\n"
              "checks (default C:\\Users\\Default\\AppData\\Local\\Temp\\)"},
             {{"--force", false, false},
              "",
              "replaces DIR when it holds a medium (setup.exe, unzip.exe,\n"
              "package.zip, autorun.inf) and nothing else, keeping its owner,\n"
              "mode and autorun.inf, and FILE when it is a disc image"},
         },
         "The medium is built in a hidden folder beside DIR (the image beside FILE)\n"
         "and renamed into place when complete. With SOURCE_DATE_EPOCH set, no entry\n"
         "is dated later and the same payload gives the same package.zip, byte for\n"
         "byte, and the same disc image."},
        {"mark",
         "mark FILE TAG... [--any-marker] [--any-file]",
         "Appends marker lines (\"TAG \\r\\n\") to the launcher FILE; a tag whose line the\n"
         "launcher already sees is not appended again. On a signed FILE the lines go\n"
         "inside its signature instead, with the lines it held, so that the launcher\n"
         "sees them and the signature stays valid. FILE must be a kestrune launcher\n"
         "built with this tool's package password. Tags as for build --marker; give\n"
         "-- before a tag that starts with a dash.\n"
         "\n"
         "As build, it refuses, and writes nothing, when the launcher would not see\n"
         "every marker line of the result in the last 256 bytes of FILE.",
         {
             {{"--any-marker", false, false}, "", "allows tags the launcher does not know, which it ignores"},
             {{"--any-file", false, false},
              "",
              "marks any Windows program, not only a launcher of this\n"
              "tool's package password"},
         },
         ""},
        {"markers",
         "markers FILE [--ca-file CERTS]",
         "Lists the marker tags the launcher sees in the last 256 bytes of FILE, what\n"
         "each tag the launcher knows does to a run, the marker lines that stand\n"
         "outside that window, and FILE's signature: none, or\n"
         "by whom and whether it verifies (osslsigncode verify). A marker line the\n"
         "launcher does not see, or a signature that does not verify, is a\n"
         "\"problem: ...\" line and exit status 1.",
         {
             {caFileOption, "CERTS",
              "the certificates the signature (and its time stamp) must\n"
              "chain to; without it, this machine's, and a chain they do not\n"
              "trust is only a warning"},
         },
         ""},
        {"check",
         "check MEDIUM [--package-dir WINPATH] [--temp WINPATH] [--ca-file CERTS] [--strict]",
         "Checks a medium (a folder, or a disc image that build --iso wrote): its files,\n"
         "the archive's password and CRCs, every name as build checks it, SETUP.EXE\n"
         "(which installer it is, and whether the silent form the medium passes makes\n"
         "that installer silent) and PostProcess.cmd, the markers and the setup form of\n"
         "a silent run, the signatures of setup.exe and unzip.exe (as markers does),\n"
         "and that every path and command line the launcher composes fits in 259\n"
         "characters. Prints one \"problem: ...\" line per problem and exits 1 if there\n"
         "is any; warnings go to stderr.",
         {
             {packageDirectoryOption, "WINPATH", "the folder the medium will be in on Windows (default D:\\)"},
             {temporaryPathOption, "WINPATH",
              "the temporary path of the user who runs it (default\n"
              "C:\\Users\\Default\\AppData\\Local\\Temp\\)"},
             {caFileOption, "CERTS",
              "the certificates the signatures must chain to, as for\n"
              "markers --ca-file"},
             {{"--strict", false, false},
              "",
              "a silent form that does not make the installer behind\n"
              "SETUP.EXE silent is a problem, not a warning"},
         },
         ""},
        {"sign",
         "sign MEDIUM --cert CERT --key KEY [--pass-file FILE] [--timestamp URL]",
         "Signs the medium's setup.exe and unzip.exe (Authenticode, through\n"
         "osslsigncode) and puts the marker lines setup.exe held inside the new\n"
         "signature, in the last 256 bytes, where the launcher sees them and the\n"
         "signature stays valid. A signed medium is signed again the same way. MEDIUM\n"
         "is a medium folder or a disc image that build --iso wrote, which is written\n"
         "again with the signed programs, under a temporary name renamed into place.\n"
         "\n"
         "The certificate is checked first: it must allow code signing (extended key\n"
         "usage codeSigning, and digitalSignature when it lists key usages), belong\n"
         "to KEY, and be valid now; one that expires within 30 days is a warning.",
         {
             {{"--cert", true, false},
              "CERT",
              "the signer's certificate (PEM or DER), with the certificates\n"
              "of its chain if any"},
             {{"--key", true, false}, "KEY", "the certificate's private key (PEM, DER or PVK)"},
             {{"--pass-file", true, false}, "FILE", "holds the password of an encrypted KEY, on one line"},
             {{"--timestamp", true, false},
              "URL",
              "an RFC 3161 time-stamping service, so that the signature\n"
              "outlives the certificate"},
         },
         "Both programs are signed and checked with osslsigncode verify before either\n"
         "is replaced. Neither the key nor its password is ever printed."},
        {"help", "help [COMMAND]", "Shows the overview, or the help of one command.", {}, ""},
    };
    return helps;
}

const OptionHelp helpOptionHelp = {{"--help", false, false}, "", "shows this help (also -h)"};

const char* const footer =
    "Options may stand before, between or after the other arguments, as\n"
    "--option VALUE or --option=VALUE; -- ends the options.\n"
    "Exit status: 0 done, 1 failed or problems found, 2 wrong command line.\n"
    "kestrune-medium --version shows the version; COMMAND -h the command's help.\n";

const CommandHelp* findHelp(const std::string& command) {
    for (const CommandHelp& help : commandHelps()) {
        if (command == help.name) return &help;
    }
    return nullptr;
}

// "  --out DIR   the folder ...", continuation lines under the text.
void printOption(const OptionHelp& option, std::FILE* stream) {
    std::string head = std::string("  ") + option.rule.name;
    if (*option.argument != '\0') head += std::string(" ") + option.argument;
    std::fputs(head.c_str(), stream);
    int column = static_cast<int>(head.size());
    if (column >= optionColumn - 1) {
        std::fputs("\n", stream);
        column = 0;
    }
    std::fprintf(stream, "%*s", optionColumn - column, "");
    for (const char* c = option.text; *c != '\0'; ++c) {
        std::fputc(*c, stream);
        if (*c == '\n') std::fprintf(stream, "%*s", optionColumn, "");
    }
    std::fputs("\n", stream);
}

}  // namespace

const char* const mediumVersion = KESTRUNE_MEDIUM_VERSION;

std::vector<std::string> commandNames() {
    std::vector<std::string> names;
    for (const CommandHelp& help : commandHelps()) names.push_back(help.name);
    return names;
}

void printOverview(std::FILE* stream) {
    std::fputs("usage: kestrune-medium COMMAND ...\n\n", stream);
    for (const CommandHelp& help : commandHelps()) std::fprintf(stream, "  %s\n", help.synopsis);
    std::fputs("\n", stream);
    std::fputs(footer, stream);
}

bool printCommandHelp(const std::string& command, std::FILE* stream) {
    const CommandHelp* help = findHelp(command);
    if (help == nullptr) return false;
    std::fprintf(stream, "usage: kestrune-medium %s\n\n%s\n\nOptions:\n", help->synopsis, help->text);
    for (const OptionHelp& option : help->options) printOption(option, stream);
    printOption(helpOptionHelp, stream);
    if (*help->notes != '\0') std::fprintf(stream, "\n%s\n", help->notes);
    std::fprintf(stream, "\n%s", footer);
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

bool parseCommand(const char* command, const std::vector<std::string>& arguments, ParsedArguments& parsed,
                  int& status) {
    std::vector<OptionRule> rules;
    if (const CommandHelp* help = findHelp(command)) {
        for (const OptionHelp& option : help->options) rules.push_back(option.rule);
    }
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
