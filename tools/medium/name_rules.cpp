#include "name_rules.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "command_line.h"
#include "zip_reader_containers.h"

namespace {

// The name in UTF-16 as unzip.exe reads it; false for a name marked as
// UTF-8 that is not.
bool decodedName(const ArchiveName& name, std::u16string& wide) { return decodeName(name.name, name.utf8, wide); }

bool beyondAscii(const std::string& name) {
    for (char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    }
    return false;
}

// The character unzip.exe objects to, named, where its own reason only
// says what kind of character it is.
std::string refusedCharacter(const std::u16string& name) {
    for (char16_t c : name) {
        if (c < 0x20 || c == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02x", static_cast<unsigned>(c));
            return std::string("holds a control character (") + code + ")";
        }
        if (c == ':') return "holds ':', which Windows takes for a drive letter or a stream name";
        if (c < 0x80 && std::strchr("<>\"|?*", static_cast<char>(c)) != nullptr) {
            return "holds '" + std::string(1, static_cast<char>(c)) + "', which Windows does not allow in names";
        }
    }
    return "";
}

// The component of a longer name that unzip.exe refuses for `problem`, in
// quotes, or "" when the name has one component or the problem is the
// whole name's: where its own reason does not say which part it means.
std::string refusedComponent(const std::u16string& name, const char* problem) {
    std::vector<std::u16string> components;
    size_t position = 0;
    NameComponent component;
    while (nextNameComponent(name.data(), name.size(), position, component)) {
        components.emplace_back(component.text, component.length);
    }
    if (components.size() < 2) return "";
    for (const std::u16string& one : components) {
        const char* own = entryNameProblem(one);
        if (own != nullptr && std::strcmp(own, problem) == 0) return quoted(utf8Text(one)) + ": ";
    }
    return "";
}

// Each check looks at one name and gives why it cannot be used, or "".
// unzip.exe's own rule decides; this only names what it objects to.
std::string extractorRefusal(const ArchiveName& name) {
    std::u16string wide;
    if (!decodedName(name, wide)) return "unzip.exe refuses it: name marked as UTF-8 is not valid UTF-8";
    const char* problem = entryNameProblem(wide);
    if (problem == nullptr) return "";
    const std::string character = wide.empty() || isNameSeparator(wide[0]) ? "" : refusedCharacter(wide);
    if (!character.empty()) return "unzip.exe refuses it: " + character;
    return "unzip.exe refuses it: " + refusedComponent(wide, problem) + problem;
}

std::string backslashProblem(const ArchiveName& name) {
    return name.name.find('\\') == std::string::npos
               ? ""
               : "holds a backslash, which unzip.exe and Windows take as a separator between folders";
}

// A name beyond ASCII without the UTF-8 mark (build leaves it off only a
// name that is not UTF-8): its spelling depends on the Windows machine.
std::string unmarkedNameWarning(const ArchiveName& name) {
    if (name.utf8 || !beyondAscii(name.name)) return "";
    return "has characters beyond ASCII without the UTF-8 mark; unzip.exe reads such a name in the OEM code page of "
           "the Windows machine, so it may be spelled differently there (code page 437 gives " +
           quoted(windowsSpelling(name)) + ")";
}

using NameCheck = std::string (*)(const ArchiveName& name);

// Refusals: only the first that objects is reported for a name.
const NameCheck refusalChecks[] = {extractorRefusal, backslashProblem};
const NameCheck warningChecks[] = {unmarkedNameWarning};

// Rules across names: entries that Windows would take for one file, by
// unzip.exe's own rule, which refuses such an archive whole.
void clashingNames(const std::vector<ArchiveName>& names, std::vector<NameFinding>& findings) {
    std::vector<std::u16string> wide(names.size());
    for (size_t i = 0; i < names.size(); ++i) decodedName(names[i], wide[i]);
    for (const EntryClash& clash : findEntryClashes(wide)) {
        findings.push_back(NameFinding{names[clash.entry].name, clash.reason, true, names[clash.other].name});
    }
}

using NamesRule = void (*)(const std::vector<ArchiveName>& names, std::vector<NameFinding>& findings);
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

std::vector<NameFinding> nameFindings(const std::vector<ArchiveName>& names) {
    std::vector<NameFinding> findings;
    // What holds for a folder's name holds for everything below it: said once.
    std::set<std::string> refusedFolders;
    std::set<std::string> warnedFolders;
    for (const ArchiveName& archiveName : names) {
        const std::string& name = archiveName.name;
        if (belowOneOf(name, refusedFolders)) continue;
        const bool folder = !name.empty() && name.back() == '/';
        bool refused = false;
        for (NameCheck check : refusalChecks) {
            const std::string problem = check(archiveName);
            if (problem.empty()) continue;
            findings.push_back(NameFinding{name, problem, true, ""});
            if (folder) refusedFolders.insert(name);
            refused = true;
            break;
        }
        if (refused || belowOneOf(name, warnedFolders)) continue;
        for (NameCheck check : warningChecks) {
            const std::string problem = check(archiveName);
            if (problem.empty()) continue;
            findings.push_back(NameFinding{name, problem, false, ""});
            if (folder) warnedFolders.insert(name);
        }
    }
    for (NamesRule rule : acrossNamesRules) rule(names, findings);
    return findings;
}

std::vector<NameFinding> nameFindings(const std::vector<std::string>& names) {
    std::vector<ArchiveName> marked;
    for (const std::string& name : names) marked.push_back(ArchiveName{name, !beyondAscii(name) || marksUtf8(name)});
    return nameFindings(marked);
}

bool marksUtf8(const std::string& name) {
    std::u16string wide;
    return beyondAscii(name) && decodeName(name, true, wide);
}

std::string windowsSpelling(const ArchiveName& name) {
    std::u16string wide;
    return decodedName(name, wide) ? utf8Text(wide) : name.name;
}
