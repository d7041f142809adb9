// The launcher's exit code. Deployment tools decide from it whether an
// installation worked; a launcher whose tail carries exitcode.tag tells them.
#pragma once

#include "process/child_outcome.h"

// After the usage box, whatever the tail holds.
inline constexpr unsigned long usageExitCode = 0;
// Every other run of a launcher without exitcode.tag.
inline constexpr unsigned long plainExitCode = 1;
// With the tag, the codes deployment tools know as "fatal error during
// installation" and "another installation is in progress".
inline constexpr unsigned long installationFailedExitCode = 1603;
inline constexpr unsigned long installerStillRunningExitCode = 1618;

// The exit code of a run past the usage box, from what became of SETUP.EXE
// (notStarted when the run ended before it started) and whether the tail
// carries exitcode.tag (`exitCodeMarkerPresent` 1).
unsigned long runExitCode(int exitCodeMarkerPresent, const ChildOutcome& setup);
