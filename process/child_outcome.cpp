#include "process/child_outcome.h"

#include "launcher/constants.h"
#include "text/bounded_text.h"

namespace {
constexpr unsigned long lastWarningExitCode = 1;
}  // namespace

bool childMayStillRun(const ChildOutcome& outcome) {
    return outcome.state == ChildState::stillRunning || outcome.state == ChildState::waitFailed;
}

ExtractionVerdict judgeExtraction(const ChildOutcome& outcome) {
    switch (outcome.state) {
        case ChildState::notStarted: return ExtractionVerdict::toolNotStarted;
        case ChildState::stillRunning: return ExtractionVerdict::toolStillRunning;
        case ChildState::waitFailed: return ExtractionVerdict::waitFailed;
        case ChildState::ended: break;
    }
    return outcome.code <= lastWarningExitCode ? ExtractionVerdict::succeeded : ExtractionVerdict::failed;
}

void composeExtractionFailureText(const ChildOutcome& outcome, char (&out)[pathBufferSize]) {
    out[0] = 0;
    switch (judgeExtraction(outcome)) {
        case ExtractionVerdict::succeeded: break;
        case ExtractionVerdict::toolNotStarted: appendText(out, extractionNotStartedText); break;
        case ExtractionVerdict::toolStillRunning: appendText(out, extractionStillRunningText); break;
        case ExtractionVerdict::waitFailed: appendText(out, extractionWaitFailedText); break;
        case ExtractionVerdict::failed:
            // Exit codes are unsigned on the platform; shown as they are.
            appendText(out, extractionFailedTextStart);
            appendUnsignedDecimal(out, outcome.code);
            appendText(out, ".");
            break;
    }
}
