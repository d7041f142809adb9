// kestrune-unzip: the extraction tool built for the host, for tests, fuzzing
// and benchmarks; command form and exit codes as unzip.exe's.
#include <stddef.h>

#include "arguments.h"

int main(int argc, char** argv) { return runUnzip(argv + 1, argc > 0 ? static_cast<size_t>(argc - 1) : 0); }
