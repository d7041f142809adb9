#include "arguments.h"

#include <string.h>

#include "exit_codes.h"
#include "extract_archive.h"
#include "file_system.h"
#include "text/program_name.h"

namespace {

const char usageLine[] = "usage: unzip [-P password] archive.zip -d destination";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isOption(const char* argument, char letter) {
    return argument[0] == '-' && argument[1] == letter && argument[2] == 0;
}

// Takes an option's value; each option may be given once.
bool takeValue(const char* const* arguments, size_t count, size_t& index, const char*& value) {
    if (value != nullptr || index + 1 >= count) return false;
    value = arguments[++index];
    return true;
}

char* putBackslashes(char* out, size_t count) {
    for (; count > 0; --count) *out++ = '\\';
    return out;
}

}  // namespace

bool parseArguments(const char* const* arguments, size_t count, Arguments& parsed) {
    parsed = Arguments{nullptr, nullptr, nullptr};
    for (size_t index = 0; index < count; ++index) {
        const char* argument = arguments[index];
        if (isOption(argument, 'P')) {
            if (!takeValue(arguments, count, index, parsed.password)) return false;
        } else if (isOption(argument, 'd')) {
            if (!takeValue(arguments, count, index, parsed.destination)) return false;
        } else if (argument[0] == '-' || parsed.archive != nullptr) {
            return false;
        } else {
            parsed.archive = argument;
        }
    }
    return parsed.archive != nullptr && parsed.archive[0] != 0 && parsed.destination != nullptr &&
           parsed.destination[0] != 0;
}

int runUnzip(const char* const* arguments, size_t count) {
    Arguments parsed;
    if (!parseArguments(arguments, count, parsed)) {
        writeErrorText(usageLine, sizeof usageLine - 1);
        writeErrorText(nativeLineEnd, strlen(nativeLineEnd));
        return exitBadUsage;
    }
    return extractArchive(parsed.archive, parsed.password, parsed.destination);
}

size_t splitArguments(const char* commandLine, char* buffer, const char** arguments) {
    const char* p = afterProgramName(commandLine, isBlank);
    size_t count = 0;
    char* out = buffer;
    for (;;) {
        while (isBlank(*p)) ++p;
        if (*p == 0) break;
        arguments[count++] = out;
        bool quoted = false;
        for (;;) {
            size_t backslashes = 0;
            while (*p == '\\') {
                ++backslashes;
                ++p;
            }
            if (*p == '"') {
                out = putBackslashes(out, backslashes / 2);
                if (backslashes % 2 == 1) {
                    *out++ = '"';
                    ++p;
                } else if (quoted && p[1] == '"') {
                    *out++ = '"';
                    p += 2;
                    quoted = false;
                } else {
                    quoted = !quoted;
                    ++p;
                }
                continue;
            }
            out = putBackslashes(out, backslashes);
            if (*p == 0 || (!quoted && isBlank(*p))) break;
            *out++ = *p++;
        }
        *out++ = 0;
    }
    return count;
}
