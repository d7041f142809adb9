#pragma once

#include <windows.h>

#include "launcher/constants.h"
#include "process/child_outcome.h"

// The whole installation run for the D text of the command line: work
// directory, extraction, setup, post-processing, removal of a temporary work
// directory. What became of SETUP.EXE: notStarted when the run ended first.
ChildOutcome runInstallation(const char* dText);
// The same with every child's wait limited to `waitLimit` milliseconds.
ChildOutcome runInstallationWithLimit(const char* dText, unsigned long waitLimit);

// How far a step let the run go.
enum class StepEnd {
    goOn,               // the next step may follow
    stopped,            // nothing further runs; the work directory may go
    childStillRunning,  // nothing further runs and the work directory stays
};

// Each stops the run when its command would not fit and nothing was run.
// The extraction also stops it unless it succeeded; every step stops it
// when its child outlived its wait.
StepEnd extractPackage(const char* packageDirectory, const char* workDirectory,
                       unsigned long waitLimit = childWaitLimit);
// SETUP.EXE is held, through `workDirectoryHold`, from its check until it
// has ended: it is started only when it is a plain file standing in the work
// directory, and nobody can swap it meanwhile. What became of it goes to
// `outcome` (notStarted unless it started).
StepEnd runSetupInteractive(const char* workDirectory, HANDLE workDirectoryHold, ChildOutcome& outcome,
                            unsigned long waitLimit = childWaitLimit);
StepEnd runSetupMsiQuiet(const char* workDirectory, HANDLE workDirectoryHold, ChildOutcome& outcome,
                         unsigned long waitLimit = childWaitLimit);
StepEnd runSetupSilent(const char* workDirectory, HANDLE workDirectoryHold, ChildOutcome& outcome,
                       unsigned long waitLimit = childWaitLimit);
