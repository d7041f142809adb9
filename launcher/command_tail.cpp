#include "launcher/command_tail.h"

namespace {
bool isBlankOrControl(char c) {
    const unsigned char code = static_cast<unsigned char>(c);
    return code != 0 && code <= 0x20;
}
}  // namespace

const char* skipProgramName(const char* commandLine) {
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p != 0 && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (static_cast<unsigned char>(*p) > 0x20) ++p;
    }
    while (isBlankOrControl(*p)) ++p;
    return p;
}
