#include "process/child_outcome.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ChildOutcome, AnExtractionSucceedsOnlyWhenTheToolEndedWithZeroOrOne) {
    struct Case {
        ChildOutcome outcome;
        ExtractionVerdict verdict;
        bool mayStillRun;
        const char* reason;  // the verbose box; null: none
    } cases[] = {
        {{ChildState::ended, 0}, ExtractionVerdict::succeeded, false, nullptr},
        {{ChildState::ended, 1}, ExtractionVerdict::succeeded, false, nullptr},
        {{ChildState::ended, 2}, ExtractionVerdict::failed, false, "The extraction failed with exit code 2."},
        {{ChildState::ended, 50}, ExtractionVerdict::failed, false, "The extraction failed with exit code 50."},
        {{ChildState::ended, 82}, ExtractionVerdict::failed, false, "The extraction failed with exit code 82."},
        // A crash: the platform's status as the exit code.
        {{ChildState::ended, 0xC0000005UL},
         ExtractionVerdict::failed,
         false,
         "The extraction failed with exit code 3221225477."},
        {{ChildState::notStarted, 2}, ExtractionVerdict::toolNotStarted, false, "The extraction tool did not start."},
        {{ChildState::stillRunning, 0},
         ExtractionVerdict::toolStillRunning,
         true,
         "The extraction tool still runs after its wait."},
        {{ChildState::waitFailed, 0}, ExtractionVerdict::waitFailed, true, "The wait for the extraction tool failed."},
    };
    for (const auto& c : cases) {
        const std::string what =
            std::to_string(static_cast<int>(c.outcome.state)) + "/" + std::to_string(c.outcome.code);
        EXPECT_EQ(judgeExtraction(c.outcome), c.verdict) << what;
        EXPECT_EQ(childMayStillRun(c.outcome), c.mayStillRun) << what;
        char reason[pathBufferSize] = "untouched";
        composeExtractionFailureText(c.outcome, reason);
        EXPECT_STREQ(reason, c.reason != nullptr ? c.reason : "") << what;
    }
}

}  // namespace
