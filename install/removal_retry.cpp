#include "install/removal_retry.h"

namespace {
// The platform's status values that decide how a failure counts.
constexpr unsigned long statusObjectNameNotFound = 0xC0000034;
constexpr unsigned long statusObjectPathNotFound = 0xC000003A;
constexpr unsigned long statusSharingViolation = 0xC0000043;
constexpr unsigned long statusDeletePending = 0xC0000056;
constexpr unsigned long statusDirectoryNotEmpty = 0xC0000101;
constexpr unsigned long statusCannotDelete = 0xC0000121;
// Success and information values have the top bit clear.
constexpr unsigned long statusErrorBit = 0x80000000;
}  // namespace

RemovalAttempt judgeRemovalStatus(unsigned long status) {
    switch (status) {
        case statusObjectNameNotFound:
        case statusObjectPathNotFound: return RemovalAttempt::removed;
        case statusSharingViolation:
        case statusDeletePending:
        case statusDirectoryNotEmpty:
        case statusCannotDelete: return RemovalAttempt::inUse;
        default: break;
    }
    return (status & statusErrorBit) == 0 ? RemovalAttempt::removed : RemovalAttempt::stuck;
}

RemovalAttempt worseAttempt(RemovalAttempt a, RemovalAttempt b) {
    return static_cast<int>(a) > static_cast<int>(b) ? a : b;
}

unsigned long nextRemovalPause(unsigned long paused) {
    if (paused >= removalPauseBudget) return 0;
    // The pauses so far add up to one less step than the next: 50, 100,
    // 200, ... after 0, 50, 150, ...
    unsigned long pause = firstRemovalPause;
    while (pause <= paused) pause *= 2;
    return pause < removalPauseBudget - paused ? pause : removalPauseBudget - paused;
}

RemovalAttempt removeWithRetries(RemovalAttemptCall attempt, void* context, RemovalPauseCall pause) {
    unsigned long paused = 0;
    for (;;) {
        const RemovalAttempt outcome = attempt(context);
        const unsigned long next = nextRemovalPause(paused);
        if (outcome != RemovalAttempt::inUse || next == 0) return outcome;
        pause(next);
        paused += next;
    }
}
