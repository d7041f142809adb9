#include "launcher/command_tail.h"

#include "text/program_name.h"

namespace {
bool isBlankOrControl(char c) {
    const unsigned char code = static_cast<unsigned char>(c);
    return code != 0 && code <= 0x20;
}
}  // namespace

const char* skipProgramName(const char* commandLine) {
    const char* p = afterProgramName(commandLine, isBlankOrControl);
    while (isBlankOrControl(*p)) ++p;
    return p;
}
