// The folder `build` lays a medium out in (--out). The medium is made in a
// temporary folder beside it and renamed into its place, so everything that
// would stop that rename, and everything that must never be replaced, is
// refused before anything is packed.
#pragma once

#include <string>
#include <vector>

// "a/b/medium/" gives "a/b" and "medium".
void splitOutputPath(const std::string& target, std::string& parent, std::string& name);

// The output's absolute path with links resolved, for a folder that need
// not exist yet; "" when its parent cannot be resolved.
std::string resolvedOutputPath(const std::string& target);

// Why `target` cannot receive a medium, or "". It may be missing or an
// empty folder; with `replace`, also a folder that holds a medium and
// nothing else (mediumFolderNames, each a regular file). It must not be a
// link or a mount point, and its parent must let the rename happen.
std::string outputFolderProblem(const std::string& target, bool replace);

// Why a disc image cannot be written at `target`, or "". It may be missing;
// with `replace`, also a disc image (a regular file that holds one). It
// must not be a link, its folder must exist and take new names, and it must
// not lie in the payload or in the medium folder `out` (when one is made).
std::string imageOutputProblem(const std::string& target, bool replace, const std::string& payload,
                               const std::string& out);

// Why the output must not be where it is relative to folders the user
// keeps: it must not be or hold the current folder or a home folder, and it
// must not be, hold or lie in the payload. `homes` are absolute paths.
std::string outputPlaceProblem(const std::string& target, const std::string& payload,
                               const std::vector<std::string>& homes);

// The home folders a build must never replace: $HOME, the user's and, under
// sudo, the invoking user's.
std::vector<std::string> homeFolders();
