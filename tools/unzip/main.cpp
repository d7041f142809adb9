// unzip.exe: extracts a ZIP archive for the launcher. Command form:
//   unzip [-P password] archive.zip -d destination
// Exit codes: exit_codes.h.
#include "exit_codes.h"
#include "extract_archive.h"

#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
// Arguments are paths and a password, never patterns: keep the C runtime from
// expanding '*' and '?' in them.
extern "C" {
int _dowildcard = 0;
}
#endif

namespace {

struct Arguments {
    const char* password = nullptr;
    const char* archive = nullptr;
    const char* destination = nullptr;
};

// Takes an option's value; each option may be given once.
bool take_value(int argc, char** argv, int& index, const char*& value)
{
    if (value != nullptr || index + 1 >= argc)
        return false;
    value = argv[++index];
    return true;
}

bool parse_arguments(int argc, char** argv, Arguments& arguments)
{
    for (int index = 1; index < argc; ++index) {
        const char* argument = argv[index];
        if (std::strcmp(argument, "-P") == 0) {
            if (!take_value(argc, argv, index, arguments.password))
                return false;
        } else if (std::strcmp(argument, "-d") == 0) {
            if (!take_value(argc, argv, index, arguments.destination))
                return false;
        } else if (argument[0] == '-' || arguments.archive != nullptr) {
            return false;
        } else {
            arguments.archive = argument;
        }
    }
    return arguments.archive != nullptr && arguments.archive[0] != '\0' &&
           arguments.destination != nullptr && arguments.destination[0] != '\0';
}

} // namespace

int main(int argc, char** argv)
{
    Arguments arguments;
    if (!parse_arguments(argc, argv, arguments)) {
        std::fputs("usage: unzip [-P password] archive.zip -d destination\n", stderr);
        return exit_bad_usage;
    }
    return extract_archive(arguments.archive, arguments.password, arguments.destination);
}
