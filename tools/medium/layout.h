// The files of a medium folder: setup.exe (a PE program that holds the
// package password this tool was built with), unzip.exe (a PE program) and
// package.zip, under the exact names the launcher uses.
#pragma once

#include <string>
#include <vector>

// Why the file at `path` cannot be the launcher of a medium, or "" when it
// can: it must be a PE executable, and it must hold the package password,
// or it was built with another KESTRUNE_PACKAGE_PASSWORD and cannot open the
// package this tool makes.
std::string launcherProblem(const std::string& path, const char* password);

struct LayoutReport {
    std::vector<std::string> info;
    std::vector<std::string> problems;
    bool directoryExists = false;
    bool launcherUsable = false;   // its markers can be read
    bool extractorUsable = false;  // a PE program, whose signature can be read
    bool packagePresent = false;
};

LayoutReport checkLayout(const std::string& directory, const char* password);
