#pragma once

// Removes a work directory and everything in it, as far as the platform
// allows. An absent or empty path does nothing. Returns 1.
int removeWorkDirectory(const char* path);
// Deepest first. Every entry is opened without following a link, checked and
// deleted through that one handle, and directories are listed and entered
// through their handles, so that swapping an entry for a link while the walk
// runs cannot lead it elsewhere. A link is removed as a link and never
// entered. Where the platform says an entry (or the tree itself) really lies
// elsewhere than its name says, it was reached through a link that could not
// be opened as a link, and it is left with its parents. A link above the
// tree is trusted. Returns 1.
int removeDirectoryTree(const char* path);

// How the top of a tree was found when its removal began.
enum class TreeTop {
    removed,     // opened and walked (whatever in it could not be removed stays)
    missing,     // nothing there
    inUse,       // another process holds it (only when asked for exclusive access)
    link,        // a link, or not where its name says: left alone
    unreadable,  // could not be opened or is not a directory: left alone
};
// removeDirectoryTree that says how it found the top; with `exclusive`, the
// top is opened only when no other process has it open.
TreeTop removeDirectoryTreeFromTop(const char* path, bool exclusive);

// The walk by paths for systems that cannot delete through handles (before
// Vista), where it is what removeDirectoryTree uses. Links are removed as
// links; an entry whose path would not fit in 259 characters is passed over.
int removeDirectoryTreeByPaths(const char* path);
