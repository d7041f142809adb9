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

// `names` are archive entry names: '/' between components, a folder's
// ending in '/'. Every finding of every rule, in the order of `names`
// within each rule; a name below a folder that was refused is not
// reported again for the same reason.
std::vector<NameFinding> nameFindings(const std::vector<std::string>& names);
