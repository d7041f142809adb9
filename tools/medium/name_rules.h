// The rules on the names of a package's entries, as unzip.exe and Windows
// will meet them. `build` applies them to the payload before it writes
// anything and `check` to package.zip, through this one list, so that the
// two never disagree about a name.
#pragma once

#include <string>
#include <vector>

struct NameFinding {
    std::string name;     // the entry's name, as the archive holds it
    std::string problem;  // why, in words: "holds '?', which Windows does not allow in names"
    bool refused = true;  // false: a warning; the medium works, but not quite as the name suggests
    std::string other;    // for two names that Windows takes for one file: the earlier
    std::string line() const;
};

// An archive entry's name: '/' between components, a folder's ending in
// '/'; and whether the entry is marked as UTF-8. unzip.exe reads a marked
// name in UTF-8 and an unmarked one in the OEM code page of the machine it
// runs on (read here in code page 437, the IBM PC's).
struct ArchiveName {
    std::string name;
    bool utf8 = true;
};

// Every finding of every rule, in the order of `names` within each rule; a
// name below a folder that was refused is not reported again for the same
// reason.
std::vector<NameFinding> nameFindings(const std::vector<ArchiveName>& names);
// Names as `build` writes them: marked as UTF-8 when marksUtf8 says so.
std::vector<NameFinding> nameFindings(const std::vector<std::string>& names);

// Whether `build` marks a name as UTF-8: it goes beyond ASCII and is valid
// UTF-8. Other names are written as they are, without the mark.
bool marksUtf8(const std::string& name);

// The name as Windows will spell it, in UTF-8 (an unmarked name read in code
// page 437), for lengths and lines.
std::string windowsSpelling(const ArchiveName& name);
