// Removal of a work directory and everything in it. Every entry is opened
// relative to the handle of the directory it stands in, without following a
// link, checked and deleted through that one handle; directories are listed
// and entered through their handles, so that swapping an entry for a link
// while the walk runs cannot lead it elsewhere, and no path grows with the
// depth of the tree. A link is removed as a link and never entered. Where the
// platform says an entry really lies elsewhere than its name says, it was
// reached through a link that could not be opened as a link: it is left,
// with its parents.
#pragma once

#include <windows.h>

// How the removal of a tree went.
enum class TreeRemoval {
    removed,     // the tree and its name are gone
    missing,     // nothing was there
    inUse,       // another process has the top open: not touched
    link,        // the top is a link, or not where its name says: not touched
    unreadable,  // the top is not a directory or could not be opened: not touched
    left,        // walked, but something in it stays (and so does the top)
};

// A tree this run did not make, such as a work directory an earlier run
// left: `name` in the directory `parent`, taken only when no other process
// has it open. One attempt; read-only entries stay.
TreeRemoval removeForeignTree(HANDLE parent, const char* name);

// The run's own work directory at `path`, held as `held` since this run
// made it: everything below is removed through that handle, read-only
// entries are cleared through theirs, and entries in use are tried again
// with growing pauses, 10 seconds in all. The directory itself can only be
// deleted once the handle is closed: it is then opened again at `path`,
// without following a link and only when nobody else has it open, and
// deleted only when it is the very directory that was held. Closes `held`;
// true when the name is gone.
bool removeOwnTree(HANDLE held, const char* path);

// removeForeignTree for a path, whose parent is opened through any links
// above it (the machine's own arrangement). For tools and tests.
TreeRemoval removeDirectoryTree(const char* path);
