#include "support/windows_arguments.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> splitCommandLine(const std::string& commandLine, QuoteRules rules) {
    std::vector<std::string> arguments;
    size_t i = 0;
    const size_t n = commandLine.size();

    std::string program;
    if (i < n && commandLine[i] == '"') {
        ++i;
        while (i < n && commandLine[i] != '"') program += commandLine[i++];
        if (i < n) ++i;
    } else {
        while (i < n && !isBlank(commandLine[i])) program += commandLine[i++];
    }
    arguments.push_back(program);

    for (;;) {
        while (i < n && isBlank(commandLine[i])) ++i;
        if (i >= n) break;
        std::string argument;
        bool quoted = false;
        while (i < n && (quoted || !isBlank(commandLine[i]))) {
            size_t backslashes = 0;
            while (i < n && commandLine[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < n && commandLine[i] == '"') {
                argument.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    argument += '"';
                    ++i;
                    continue;
                }
                if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
                    argument += '"';
                    i += 2;
                    if (rules == QuoteRules::classic) quoted = false;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            argument.append(backslashes, '\\');
            if (i < n && (quoted || !isBlank(commandLine[i]))) argument += commandLine[i++];
        }
        arguments.push_back(argument);
    }
    return arguments;
}

std::string quoteArgument(const std::string& text) {
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}
