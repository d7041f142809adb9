#include "launcher/exit_codes.h"

unsigned long runExitCode(int exitCodeMarkerPresent, const ChildOutcome& setup) {
    if (exitCodeMarkerPresent != 1) return plainExitCode;
    switch (setup.state) {
        // The installer's own verdict, whatever the script then does.
        case ChildState::ended: return setup.code;
        case ChildState::stillRunning: return installerStillRunningExitCode;
        // A wait that failed leaves the installer's outcome unknown: no
        // deployment may count that as success.
        case ChildState::waitFailed:
        case ChildState::notStarted: break;
    }
    return installationFailedExitCode;
}
