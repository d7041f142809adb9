#pragma once

// Removes a work directory and everything in it, as far as the platform
// allows. An absent or empty path does nothing. Returns 1.
int removeWorkDirectory(const char* path);
// Deepest first; links are removed as links and never entered. Returns 1.
int removeDirectoryTree(const char* path);
