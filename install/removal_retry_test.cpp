#include "install/removal_retry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(RemovalRetry, EachStatusCountsAsGoneInUseOrStuck) {
    const std::pair<unsigned long, RemovalAttempt> cases[] = {
        {0x00000000, RemovalAttempt::removed},  // STATUS_SUCCESS
        {0xC0000034, RemovalAttempt::removed},  // STATUS_OBJECT_NAME_NOT_FOUND: gone already
        {0xC000003A, RemovalAttempt::removed},  // STATUS_OBJECT_PATH_NOT_FOUND
        {0xC0000043, RemovalAttempt::inUse},    // STATUS_SHARING_VIOLATION
        {0xC0000056, RemovalAttempt::inUse},    // STATUS_DELETE_PENDING
        {0xC0000101, RemovalAttempt::inUse},    // STATUS_DIRECTORY_NOT_EMPTY
        {0xC0000121, RemovalAttempt::inUse},    // STATUS_CANNOT_DELETE: a running program's file
        {0xC0000022, RemovalAttempt::stuck},    // STATUS_ACCESS_DENIED: its access list
        {0xC0000103, RemovalAttempt::stuck},    // STATUS_NOT_A_DIRECTORY
        {0xC0000001, RemovalAttempt::stuck},    // STATUS_UNSUCCESSFUL
        {0x80000006, RemovalAttempt::stuck},    // STATUS_NO_MORE_FILES, a warning, is no success
    };
    for (const auto& [status, expected] : cases) {
        EXPECT_EQ(judgeRemovalStatus(status), expected) << std::hex << status;
    }
    EXPECT_EQ(worseAttempt(RemovalAttempt::removed, RemovalAttempt::inUse), RemovalAttempt::inUse);
    EXPECT_EQ(worseAttempt(RemovalAttempt::stuck, RemovalAttempt::inUse), RemovalAttempt::stuck);
    EXPECT_EQ(worseAttempt(RemovalAttempt::removed, RemovalAttempt::removed), RemovalAttempt::removed);
}

// The whole schedule: growing pauses, the last one cut to the budget.
const std::vector<unsigned long> everyPause = {50, 100, 200, 400, 800, 1600, 3200, 3650};

// Attempts that give the outcomes of `script` in turn (its last one from
// then on), and pauses that are counted, never waited.
struct Script {
    std::vector<RemovalAttempt> outcomes;
    size_t attempts = 0;
    std::vector<unsigned long> pauses;
};
Script* running = nullptr;

RemovalAttempt scriptedAttempt(void* context) {
    Script& script = *static_cast<Script*>(context);
    const size_t at = script.attempts++;
    return script.outcomes[at < script.outcomes.size() ? at : script.outcomes.size() - 1];
}
void countedPause(unsigned long milliseconds) { running->pauses.push_back(milliseconds); }

TEST(RemovalRetry, PausesGrowUntilTheTreeGoesSomethingIsStuckOrTheBudgetIsSpent) {
    using A = RemovalAttempt;
    struct Case {
        const char* what;
        std::vector<A> outcomes;
        A result;
        size_t attempts;
    } cases[] = {
        {"a clean tree: one attempt", {A::removed}, A::removed, 1},
        {"a permanent error: no pause", {A::stuck}, A::stuck, 1},
        {"released after one pause", {A::inUse, A::removed}, A::removed, 2},
        {"released after three pauses", {A::inUse, A::inUse, A::inUse, A::removed}, A::removed, 4},
        {"released in the last pause",
         {A::inUse, A::inUse, A::inUse, A::inUse, A::inUse, A::inUse, A::inUse, A::inUse, A::removed},
         A::removed,
         9},
        {"in use, then stuck: no more pauses", {A::inUse, A::stuck}, A::stuck, 2},
        {"never released", {A::inUse}, A::inUse, 9},
    };
    for (const Case& c : cases) {
        Script script{c.outcomes, 0, {}};
        running = &script;
        EXPECT_EQ(removeWithRetries(&scriptedAttempt, &script, &countedPause), c.result) << c.what;
        EXPECT_EQ(script.attempts, c.attempts) << c.what;
        // One pause fewer than attempts, each as the schedule says.
        const std::vector<unsigned long> expected(everyPause.begin(), everyPause.begin() + (c.attempts - 1));
        EXPECT_EQ(script.pauses, expected) << c.what;
    }
    unsigned long total = 0;
    for (unsigned long pause : everyPause) total += pause;
    EXPECT_EQ(total, removalPauseBudget) << "10 seconds in all";
    EXPECT_EQ(nextRemovalPause(removalPauseBudget), 0u);
}

}  // namespace
