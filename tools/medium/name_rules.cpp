#include "name_rules.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "command_line.h"
#include "entry_name.h"

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

// Each check looks at one name and gives why it cannot be used, or "".
std::string extractorRefusal(const std::string& name) {
    const char* problem = entry_name_problem(name);
    if (problem == nullptr) return "";
    const std::string character = name.empty() || isSeparator(name[0]) ? "" : refusedCharacter(name);
    return "unzip.exe refuses it: " + (character.empty() ? std::string(problem) : character);
}

std::string backslashProblem(const std::string& name) {
    return name.find('\\') == std::string::npos
               ? ""
               : "holds a backslash, which unzip.exe and Windows take as a separator between folders";
}

std::string droppedEndingProblem(const std::string& name) {
    std::string component;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !isSeparator(name[i])) {
            component += name[i];
            continue;
        }
        if (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
            return quoted(component) + " ends in a dot or a blank, which Windows drops, so the name would change";
        }
        component.clear();
    }
    return "";
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
const NameCheck refusalChecks[] = {extractorRefusal, backslashProblem, droppedEndingProblem};
const NameCheck warningChecks[] = {nonAsciiWarning};

std::string foldedName(const std::string& name) {
    std::string folded = name;
    if (!folded.empty() && folded.back() == '/') folded.pop_back();
    for (char& c : folded) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return folded;
}

// Rules across names: two entries that Windows would take for the same file.
void caseCollisions(const std::vector<std::string>& names, std::vector<NameFinding>& findings) {
    std::map<std::string, const std::string*> firstByFolded;
    for (const std::string& name : names) {
        // A file "a" and a folder "A/" collide as well.
        const auto [existing, added] = firstByFolded.emplace(foldedName(name), &name);
        if (added) continue;
        const std::string& first = *existing->second;
        findings.push_back(NameFinding{name,
                                       first == name ? "stands twice in the package"
                                                     : "differs from " + quoted(first) +
                                                           " only in case; on Windows one would overwrite the other",
                                       true});
    }
}

using NamesRule = void (*)(const std::vector<std::string>& names, std::vector<NameFinding>& findings);
const NamesRule acrossNamesRules[] = {caseCollisions};

// Whether a folder above `name` is in `folders` (names ending in '/').
bool belowOneOf(const std::string& name, const std::set<std::string>& folders) {
    for (size_t slash = name.find('/'); slash != std::string::npos && slash + 1 < name.size();
         slash = name.find('/', slash + 1)) {
        if (folders.count(name.substr(0, slash + 1)) != 0) return true;
    }
    return false;
}

}  // namespace

std::string NameFinding::line() const { return quoted(name) + ": " + problem; }

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
            findings.push_back(NameFinding{name, problem, true});
            if (folder) refusedFolders.insert(name);
            refused = true;
            break;
        }
        if (refused || belowOneOf(name, warnedFolders)) continue;
        for (NameCheck check : warningChecks) {
            const std::string problem = check(name);
            if (problem.empty()) continue;
            findings.push_back(NameFinding{name, problem, false});
            if (folder) warnedFolders.insert(name);
        }
    }
    for (NamesRule rule : acrossNamesRules) rule(names, findings);
    return findings;
}
