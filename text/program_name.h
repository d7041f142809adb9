// Where a Windows command line's program name ends, for the launcher's
// command tail and for unzip.exe's own argument split. Header only and free of
// the C runtime.
#pragma once

// Just after the program name at the start of `commandLine`: a quoted name
// runs to the next double quote (or the end) and takes it; an unquoted one
// ends at the first character `endsName` accepts (or the end). The two
// programs end an unquoted name differently, hence the parameter.
template <typename EndsName>
const char* afterProgramName(const char* commandLine, EndsName endsName) {
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p != 0 && *p != '"') ++p;
        if (*p == '"') ++p;
        return p;
    }
    while (*p != 0 && !endsName(*p)) ++p;
    return p;
}
