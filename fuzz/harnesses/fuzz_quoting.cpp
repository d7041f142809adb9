// appendQuotedArgument over any path (bytes 1 to 255): the Windows argument
// rules, under both quote rules (support/windows_arguments.h), must give the
// path back unchanged as exactly one argument, and the bounded forms must fit
// or refuse as the rules for bounded text say. unzip.exe's own split of its
// command line (tools/unzip/arguments.h) must read every line as the C
// runtime's classic rules do: the input itself too, as a whole command line.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "arguments.h"
#include "launcher/constants.h"
#include "support/fuzz_check.h"
#include "support/windows_arguments.h"
#include "text/bounded_text.h"

namespace {

// unzip.exe's split, with the program name in front as the reading in
// support/ gives it.
std::vector<std::string> unzipSplit(const std::string& line) {
    std::vector<char> buffer(line.size() + 1);
    std::vector<const char*> arguments(line.size() / 2 + 2);
    const size_t count = splitArguments(line.c_str(), buffer.data(), arguments.data());
    std::vector<std::string> split{splitCommandLine(line, QuoteRules::classic).at(0)};
    for (size_t i = 0; i < count; ++i) split.emplace_back(arguments[i]);
    return split;
}

// The program name and a following argument around the quoted path, so that
// a quote or backslash that leaks out of the token shows as a changed or
// extra argument.
void checkRoundTrip(const std::string& quoted, const std::string& path) {
    for (QuoteRules rules : {QuoteRules::classic, QuoteRules::modern}) {
        const std::vector<std::string> alone = splitCommandLine("x " + quoted, rules);
        FUZZ_CHECK(alone.size() == 2);
        FUZZ_CHECK(alone[1] == path);

        const std::vector<std::string> between = splitCommandLine("x " + quoted + " next", rules);
        FUZZ_CHECK(between.size() == 3);
        FUZZ_CHECK(between[1] == path);
        FUZZ_CHECK(between[2] == "next");

        const std::vector<std::string> twice = splitCommandLine("x " + quoted + "\t" + quoted, rules);
        FUZZ_CHECK(twice.size() == 3);
        FUZZ_CHECK(twice[1] == path && twice[2] == path);
    }
    for (const std::string& line : {"x " + quoted, "x " + quoted + " next", "x " + quoted + "\t" + quoted}) {
        FUZZ_CHECK(unzipSplit(line) == splitCommandLine(line, QuoteRules::classic));
    }
}

}  // namespace

// Input: the path, up to the first zero byte; a byte after it (if any) sets
// how much text already stands in the bounded buffer.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t pathLength = strnlen(reinterpret_cast<const char*>(data), size);
    const std::string path(reinterpret_cast<const char*>(data), pathLength);
    const size_t prefixLength = pathLength + 1 < size ? data[pathLength + 1] : 0;
    const std::string expectedQuoted = quoteArgument(path);

    // Room enough for any quoting: every byte at most doubled, plus quotes.
    const size_t roomy = 2 * pathLength + 3;
    char* whole = new char[roomy];
    whole[0] = 0;
    FUZZ_CHECK(appendQuotedArgument(whole, roomy, path.c_str()));
    const std::string quoted(whole);
    delete[] whole;
    FUZZ_CHECK(quoted == expectedQuoted);
    checkRoundTrip(quoted, path);
    FUZZ_CHECK(unzipSplit(path) == splitCommandLine(path, QuoteRules::classic));

    // A path buffer that already holds some text: the append fits whole, or is
    // refused with the text before it unchanged; never past the buffer.
    const std::string prefix(prefixLength < pathBufferSize ? prefixLength : pathBufferSize - 1, 'p');
    char* bounded = new char[pathBufferSize];
    std::memcpy(bounded, prefix.c_str(), prefix.size() + 1);
    const bool fits = appendQuotedArgument(bounded, pathBufferSize, path.c_str());
    FUZZ_CHECK(fits == (prefix.size() + quoted.size() < pathBufferSize));
    FUZZ_CHECK(std::memchr(bounded, 0, pathBufferSize) != nullptr);
    FUZZ_CHECK(std::string(bounded) == (fits ? prefix + quoted : prefix));
    delete[] bounded;

    // The smallest buffer that holds it, and one byte less.
    const size_t exact = quoted.size() + 1;
    char* tight = new char[exact];
    tight[0] = 0;
    FUZZ_CHECK(appendQuotedArgument(tight, exact, path.c_str()));
    FUZZ_CHECK(quoted == tight);
    delete[] tight;
    char* tooSmall = new char[exact - 1];
    tooSmall[0] = 0;
    FUZZ_CHECK(!appendQuotedArgument(tooSmall, exact - 1, path.c_str()));
    FUZZ_CHECK(tooSmall[0] == 0);
    delete[] tooSmall;
    return 0;
}
