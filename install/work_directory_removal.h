#pragma once

// Removes a work directory and everything in it, as far as the platform
// allows. An absent or empty path does nothing. Returns 1.
int removeWorkDirectory(const char* path);
// Deepest first; links are removed as links and never entered. Where the
// platform says an entry (or the tree itself) really lies elsewhere than its
// name says, it was reached through a link that could not be removed as a
// link, and it is left with its parents. Returns 1.
int removeDirectoryTree(const char* path);
