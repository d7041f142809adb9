#pragma once

// The command tail: the process command line without the program name and
// without the blanks and control characters (0x01 to 0x20) that follow it.
// A quoted program name runs to the next double quote (or the end); an
// unquoted one is the run of characters above the space.
const char* skipProgramName(const char* commandLine);
