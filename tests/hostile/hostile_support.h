// What the hostile tests share: the crafted archives, media that carry one,
// and a watch over everything a run could touch outside its work directory.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "medium.h"

namespace hostile {

// A crafted archive made by make_hostile_fixtures.sh.
std::string hostileFixturePath(const std::string& name);
// A medium whose package.zip is the crafted archive `fixture`.
Medium mediumWithArchive(const std::string& name, const std::string& fixture);

// Runs the medium with `arguments` while `path` is held open with only the
// sharing `share` allows.
RecordedRun runHoldingOpen(const Medium& medium, const std::string& path, unsigned long share,
                           const std::string& arguments);

// Every file (size and time) and directory below `path`; links to
// directories are listed, never entered.
std::map<std::string, std::string> snapshotTree(const std::string& path, bool recursive = true);

// Taken before a run: the medium's whole scratch tree (medium, temporary
// directory, anything beside them) and the entries of C:\ and of the
// scratch root. changes() lists what differs afterwards as "+path", "-path"
// or "~path", leaving out the children's log and the paths below `expected`.
class OutsideWatch {
public:
    explicit OutsideWatch(const Medium& medium);
    std::vector<std::string> changes(const std::vector<std::string>& expected = {}) const;

private:
    std::string root_;
    std::string log_;
    std::map<std::string, std::string> before_;
    std::map<std::string, std::string> now() const;
};

// The entries left below `path` (none when it is gone), as paths relative to it.
std::vector<std::string> entriesBelow(const std::string& path);

}  // namespace hostile
