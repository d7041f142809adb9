// A medium is built in a temporary folder beside its destination and renamed
// into place only when it is complete, so that an interrupted or failed build
// leaves either the old medium or nothing, never half a medium.
//
// The build holds a lock on its temporary folder while it lives. A folder
// of that name whose lock is free was left by a build that was killed
// (SIGKILL, a power cut): the next build of the same output removes it and
// says so. One whose lock is held belongs to a build still running.
#pragma once

#include <string>
#include <vector>

struct Staging {
    std::string target;              // the medium folder asked for
    std::string path;                // the temporary folder beside it; empty once gone
    int lock = -1;                   // open on the temporary folder, locked
    std::vector<std::string> notes;  // what the user should know: leftovers removed, an owner not kept
};

// Creates ".<name>.kestrune-medium-XXXXXX" beside `target`, after removing
// such folders that killed builds of the same target left.
bool createStaging(const std::string& target, Staging& staging, std::string& error);
// Puts the staged medium at `target`, with the owner and mode of the folder
// it replaces. With `replace`, an existing medium is swapped out in one step,
// and of the old folder only the medium's own files are removed.
bool commitStaging(Staging& staging, bool replace, std::string& error);
// Puts the file `name`, made in the temporary folder, at `target` (a disc
// image), with the owner and mode of the file it replaces; without
// `replace`, never over a file that appeared meanwhile. The temporary folder
// is removed then.
bool commitStagedFile(Staging& staging, const std::string& name, bool replace, std::string& error);
// Removes the temporary folder and whatever is in it.
void discardStaging(Staging& staging);

// SIGINT, SIGTERM and SIGHUP only set a flag, which the commands that write
// poll; they then discard their temporary files and call reraiseInterrupt(),
// which says what was written and what was not ("interrupted; nothing was
// written") and ends the tool as killed by that signal. A second signal ends
// the tool at once. The last look at the flag is just before the rename that
// puts an output in place: a signal after it finds that output written.
void installInterruptHandlers();
bool interruptRequested();
void reraiseInterrupt();
// What a command writes, named for that message ("the medium folder 'm'"):
// each output is planned before the command starts and noted as written
// once it stands in place for good.
void planOutput(const std::string& what);
void noteWritten(const std::string& what);
// The message, from what was planned and what of it was written.
std::string interruptionText(const std::vector<std::string>& planned, const std::vector<std::string>& written);
