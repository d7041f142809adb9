// A check that stays on in every build type: a finding must abort so that
// libFuzzer saves the input, whatever NDEBUG says.
#pragma once

#include <stdio.h>
#include <stdlib.h>

// Where check failures are written; a harness that mutes stderr around noisy
// code points this at a saved copy of it.
inline int fuzzReportDescriptor = 2;

[[noreturn]] inline void fuzzCheckFailed(const char* condition, const char* file, int line) {
    dprintf(fuzzReportDescriptor, "%s:%d: check failed: %s\n", file, line, condition);
    abort();
}

#define FUZZ_CHECK(condition) ((condition) ? static_cast<void>(0) : fuzzCheckFailed(#condition, __FILE__, __LINE__))
