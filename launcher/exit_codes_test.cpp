#include "launcher/exit_codes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(RunExitCode, TheTagMakesTheInstallersOutcomeTheRunsExitCode) {
    struct Case {
        int tagged;
        ChildOutcome setup;
        unsigned long exitCode;
    } cases[] = {
        // Without the tag, 1 whatever became of the installer.
        {0, {ChildState::ended, 0}, 1},
        {0, {ChildState::ended, 3010}, 1},
        {0, {ChildState::notStarted, 2}, 1},
        {0, {ChildState::stillRunning, 0}, 1},
        // With it: the installer's own code, whatever it is.
        {1, {ChildState::ended, 0}, 0},
        {1, {ChildState::ended, 1}, 1},
        {1, {ChildState::ended, 3010}, 3010},
        {1, {ChildState::ended, 1641}, 1641},
        {1, {ChildState::ended, 0xC0000005}, 0xC0000005},
        // Ended before the installer started, whatever the platform's error.
        {1, {ChildState::notStarted, 0}, 1603},
        {1, {ChildState::notStarted, 2}, 1603},
        {1, {ChildState::stillRunning, 0}, 1618},
        {1, {ChildState::waitFailed, 0}, 1603},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(runExitCode(c.tagged, c.setup), c.exitCode)
            << "tagged " << c.tagged << ", state " << static_cast<int>(c.setup.state) << ", code " << c.setup.code;
    }
}

}  // namespace
