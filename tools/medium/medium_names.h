// The medium's files as kestrune-medium lays them out: the launcher's own
// names (launcher/medium_files.h) and what only a medium folder holds.
#pragma once

#include "launcher/medium_files.h"

// A medium folder may also hold this, which starts setup.exe when the
// medium is inserted.
constexpr const char* autorunFileName = "autorun.inf";
// Everything a medium folder holds; `build --force` replaces only a folder
// that holds these files and nothing else.
constexpr const char* const mediumFolderNames[] = {launcherFileName, extractorFileName, packageFileName,
                                                   autorunFileName};
