// What became of a child process, and what that means for the run. Plain
// C++: the runners fill it from the platform's answers.
#pragma once

#include <stddef.h>

#include "launcher/constants.h"

enum class ChildState {
    ended,         // ended within its wait; `code` is its exit code
    stillRunning,  // the wait ran out first; the child runs on
    waitFailed,    // the wait itself failed; whether it still runs is unknown
    notStarted,    // it never started; `code` is the platform's error code
};

struct ChildOutcome {
    ChildState state;
    unsigned long code;
};

// Whether the child may still be at work (and hold files in its directory).
bool childMayStillRun(const ChildOutcome& outcome);

enum class ExtractionVerdict { succeeded, toolNotStarted, toolStillRunning, waitFailed, failed };

// Exit code 0 is success and 1 success with warnings (Info-ZIP's meaning);
// 2 and above, a tool that did not start or that did not end in time are
// failures.
ExtractionVerdict judgeExtraction(const ChildOutcome& outcome);

// Why an extraction did not succeed, for the box that tells it; empty when it
// succeeded. Every reason fits.
void composeExtractionFailureText(const ChildOutcome& outcome, char (&out)[pathBufferSize]);
