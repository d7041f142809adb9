// How an attempt at removing a tree ended, and the retries around it. An
// entry in use may be released soon (a helper or a console of the installer
// still ending), so the removal tries again with growing pauses, 10 seconds
// in all for the whole tree. What waiting cannot change ends the retries at
// once. Plain C++: the Windows side supplies the attempt and the pause.
#pragma once

enum class RemovalAttempt {
    removed,  // the tree and its name are gone
    inUse,    // something is still in use and may be released
    stuck,    // something no pause will change: it stays
};

// The platform's status (NTSTATUS) of one open or deletion, as it counts
// for the removal: done or already gone; in use (a sharing violation, a
// deletion still pending, a running program's file, a directory not yet
// empty); or anything else, which waiting does not change.
RemovalAttempt judgeRemovalStatus(unsigned long status);
// The worse of two: stuck over in use over removed.
RemovalAttempt worseAttempt(RemovalAttempt a, RemovalAttempt b);

// The pauses between attempts: 50 ms, doubled each time, and the last one
// cut so that they add up to the budget.
constexpr unsigned long removalPauseBudget = 10000;
constexpr unsigned long firstRemovalPause = 50;
// The pause after `paused` milliseconds of pauses so far; 0 once the budget
// is spent.
unsigned long nextRemovalPause(unsigned long paused);

using RemovalAttemptCall = RemovalAttempt (*)(void* context);
using RemovalPauseCall = void (*)(unsigned long milliseconds);
// Attempts until the tree is removed, something is stuck or the budget is
// spent, pausing through `pause` in between; the last attempt's outcome.
RemovalAttempt removeWithRetries(RemovalAttemptCall attempt, void* context, RemovalPauseCall pause);
