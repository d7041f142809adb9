// Writing marker lines into a program: appended to an unsigned one, and
// into the signature of a signed one (authenticode.h), so that the launcher
// sees them and the signature stays valid. `mark`, `build` and `sign` all
// write them here.
#pragma once

#include <string>
#include <vector>

#include "markers.h"

struct Marking {
    std::string bytes;                      // the program as it is to be written
    std::vector<std::string> added;         // tags whose lines are new
    std::vector<std::string> alreadyThere;  // asked for, and already seen by the launcher
    bool intoSignature = false;             // the lines stand in the signature
    TailAnalysis after;                     // of the end of `bytes`
    // What `check` would report of the marker lines of `bytes`: a line the
    // launcher does not see, or a near miss of a known tag without the tag,
    // is a problem. `build` and `mark` write nothing then: neither reports
    // success for a launcher whose markers it would not see.
    MarkerFindings findings;
};

// `file` with lines for those of `tags` it does not hold yet, each once.
// A signed file keeps every marker line it holds, moved into its signature
// where it stood elsewhere. False, with `error`, for a signature block that
// cannot be rewritten.
bool markProgram(const std::string& file, const std::vector<std::string>& tags, Marking& marking, std::string& error);
// `file` as it is, judged as markProgram judges what it writes.
Marking unchangedProgram(const std::string& file);

// The marker lines at the end of a whole program, the signature's own bytes
// left out of the search.
TailAnalysis analyseProgram(const std::string& file);
