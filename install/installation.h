#pragma once

// The whole installation run for the D text of the command line: work
// directory, extraction, setup, post-processing, removal of a temporary work
// directory.
void runInstallation(const char* dText);

// Each returns 0 when its command would not fit and nothing was run.
int extractPackage(const char* packageDirectory, const char* workDirectory);
int runSetupInteractive(const char* workDirectory);
int runSetupMsiQuiet(const char* workDirectory);
int runSetupSilent(const char* workDirectory);
