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

bool composeExtractionFailureText(const ChildOutcome& outcome, char* out, size_t capacity) {
    char text[pathBufferSize] = "";
    bool fits = true;
    switch (judgeExtraction(outcome)) {
        case ExtractionVerdict::succeeded: return false;
        case ExtractionVerdict::toolNotStarted: fits = appendText(text, extractionNotStartedText); break;
        case ExtractionVerdict::toolStillRunning: fits = appendText(text, extractionStillRunningText); break;
        case ExtractionVerdict::waitFailed: fits = appendText(text, extractionWaitFailedText); break;
        case ExtractionVerdict::failed:
            // Exit codes are unsigned on the platform; shown as they are.
            fits = appendText(text, extractionFailedTextStart) && appendUnsignedDecimal(text, outcome.code) &&
                   appendText(text, ".");
            break;
    }
    return fits && copyText(out, capacity, text);
}
