// unzip.exe's command line:
//   unzip [-P password] archive.zip -d destination
// the options in any order, each at most once.
#pragma once

#include <stddef.h>

struct Arguments {
    const char* password;  // null when none was given
    const char* archive;
    const char* destination;
};

// The arguments after the program name; false for a command line that is not
// of the form above.
bool parseArguments(const char* const* arguments, size_t count, Arguments& parsed);

// The whole program for the arguments after its name: the usage line and
// exitBadUsage for a wrong command line, else the extraction's exit code.
int runUnzip(const char* const* arguments, size_t count);

// The arguments after the program name of a Windows command line, split as
// the C runtime msvcrt.dll splits them for main(): the program name is
// skipped (a quoted one runs to the next quote, an unquoted one to the next
// space or tab); blanks (space, tab) separate arguments outside quotes; 2n
// backslashes and a quote give n backslashes and toggle quoting, 2n+1 give n
// and a literal quote; "" inside quotes gives a quote and ends the quoted
// part; other backslashes are literal. No wildcards are expanded: the
// arguments are paths and a password. Single-byte code pages assumed.
// `buffer` holds at least the line's length plus one bytes and receives the
// arguments, each terminated; `arguments` has room for half the line's length
// plus two. Returns the count.
size_t splitArguments(const char* commandLine, char* buffer, const char** arguments);
