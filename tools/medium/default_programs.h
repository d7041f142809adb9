// Where `build` takes setup.exe and unzip.exe from when no --launcher or
// --extractor names them: installed beside this program (../share/kestrune/
// from its folder, as `cmake --install` and the Debian package lay it out,
// wherever that tree is), or, for the program in its own build tree, that
// build's product. A copy elsewhere never looks into a build tree, whose
// folder may by then be anyone's.
#pragma once

#include <string>

// What the build compiled in: the installed folder relative to the
// program's, and the build tree's program folder and product files.
struct DefaultLayout {
    std::string installedFolder;  // "../share/kestrune"
    std::string buildProgramFolder;
    std::string buildLauncher;
    std::string buildExtractor;
};

// This build's layout.
const DefaultLayout& builtInLayout();

// The folder of the running program, links resolved; "" with `error` when
// it cannot be told.
std::string thisProgramFolder(std::string& error);

struct DefaultProgram {
    std::string path;  // the file found, or ""
    // When none was found: every place looked at and what to do, as in
    // "none at 'A' (...) nor at 'B' (...); give --launcher".
    std::string problem;
};

// The default launcher (`launcher` true) or extraction tool of a program in
// `programFolder`: the first regular file of the installed folder's and,
// when `programFolder` is the build tree's, the build's product.
DefaultProgram findDefaultProgram(const std::string& programFolder, const DefaultLayout& layout, bool launcher);
// The same for this running program.
DefaultProgram findDefaultProgram(bool launcher);
