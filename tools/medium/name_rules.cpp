#include "name_rules.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "command_line.h"
#include "zip_reader_containers.h"

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The character unzip.exe objects to, named, where its own reason only
// says what kind of character it is.
std::string refusedCharacter(const std::string& name) {
    for (char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02x", byte);
            return std::string("holds a control character (") + code + ")";
        }
        if (c == ':') return "holds ':', which Windows takes for a drive letter or a stream name";
        if (std::strchr("<>\"|?*", c) != nullptr) {
            return "holds '" + std::string(1, c) + "', which Windows does not allow in names";
        }
    }
    return "";
}

// The component of a longer name that unzip.exe refuses for `problem`, in
// quotes, or "" when the name has one component or the problem is the
// whole name's: where its own reason does not say which part it means.
std::string refusedComponent(const std::string& name, const char* problem) {
    const std::vector<std::string> components = entryNameComponents(name);
    if (components.size() < 2) return "";
    for (const std::string& component : components) {
        const char* own = entryNameProblem(component);
        if (own != nullptr && std::strcmp(own, problem) == 0) return quoted(component) + ": ";
    }
    return "";
}

// Each check looks at one name and gives why it cannot be used, or "".
// unzip.exe's own rule decides; this only names what it objects to.
std::string extractorRefusal(const std::string& name) {
    const char* problem = entryNameProblem(name);
    if (problem == nullptr) return "";
    const std::string character = name.empty() || isSeparator(name[0]) ? "" : refusedCharacter(name);
    if (!character.empty()) return "unzip.exe refuses it: " + character;
    return "unzip.exe refuses it: " + refusedComponent(name, problem) + problem;
}

std::string backslashProblem(const std::string& name) {
    return name.find('\\') == std::string::npos
               ? ""
               : "holds a backslash, which unzip.exe and Windows take as a separator between folders";
}

std::string nonAsciiWarning(const std::string& name) {
    for (char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return "is not plain ASCII; unzip.exe creates names in the Windows ANSI code page, so it may be "
                   "spelled differently there";
        }
    }
    return "";
}

using NameCheck = std::string (*)(const std::string& name);

// Refusals: only the first that objects is reported for a name.
const NameCheck refusalChecks[] = {extractorRefusal, backslashProblem};
const NameCheck warningChecks[] = {nonAsciiWarning};

// Rules across names: entries that Windows would take for one file, by
// unzip.exe's own rule, which refuses such an archive whole.
void clashingNames(const std::vector<std::string>& names, std::vector<NameFinding>& findings) {
    for (const EntryClash& clash : findEntryClashes(names)) {
        findings.push_back(NameFinding{names[clash.entry], clash.reason, true, names[clash.other]});
    }
}

using NamesRule = void (*)(const std::vector<std::string>& names, std::vector<NameFinding>& findings);
const NamesRule acrossNamesRules[] = {clashingNames};

// Whether a folder above `name` is in `folders` (names ending in '/').
bool belowOneOf(const std::string& name, const std::set<std::string>& folders) {
    for (size_t slash = name.find('/'); slash != std::string::npos && slash + 1 < name.size();
         slash = name.find('/', slash + 1)) {
        if (folders.count(name.substr(0, slash + 1)) != 0) return true;
    }
    return false;
}

}  // namespace

std::string NameFinding::line() const {
    if (!other.empty()) return quoted(name) + " and " + quoted(other) + " name the same file on Windows: " + problem;
    return quoted(name) + ": " + problem;
}

std::vector<NameFinding> nameFindings(const std::vector<std::string>& names) {
    std::vector<NameFinding> findings;
    // What holds for a folder's name holds for everything below it: said once.
    std::set<std::string> refusedFolders;
    std::set<std::string> warnedFolders;
    for (const std::string& name : names) {
        if (belowOneOf(name, refusedFolders)) continue;
        const bool folder = !name.empty() && name.back() == '/';
        bool refused = false;
        for (NameCheck check : refusalChecks) {
            const std::string problem = check(name);
            if (problem.empty()) continue;
            findings.push_back(NameFinding{name, problem, true, ""});
            if (folder) refusedFolders.insert(name);
            refused = true;
            break;
        }
        if (refused || belowOneOf(name, warnedFolders)) continue;
        for (NameCheck check : warningChecks) {
            const std::string problem = check(name);
            if (problem.empty()) continue;
            findings.push_back(NameFinding{name, problem, false, ""});
            if (folder) warnedFolders.insert(name);
        }
    }
    for (NamesRule rule : acrossNamesRules) rule(names, findings);
    return findings;
}
