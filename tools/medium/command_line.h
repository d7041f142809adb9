// The command line of kestrune-medium: exit statuses, option parsing and the
// one place that prints errors, warnings and information.
#pragma once

#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

enum ExitStatus {
    exitOk = 0,
    exitFailed = 1,  // the command could not do its work, or check found problems
    exitUsage = 2,   // the command line itself is wrong
};

struct OptionRule {
    const char* name;  // with its dashes: "--out"
    bool takesValue;
    bool repeatable;
};

struct ParsedArguments {
    std::vector<std::string> positional;
    std::map<std::string, std::vector<std::string>> values;
    std::set<std::string> flags;

    bool has(const std::string& option) const;
    // The option's (only) value, or `fallback` when it was not given.
    std::string value(const std::string& option, const std::string& fallback = "") const;
    std::vector<std::string> all(const std::string& option) const;
};

// Options may stand before, between or after the positional arguments, as
// "--out DIR" or "--out=DIR"; "--" ends the options, so that a positional
// argument (a marker tag, say) may start with a dash. False, with the reason
// in `error`, for an unknown option, a missing value or a repeated option
// that may be given once.
bool parseArguments(const std::vector<std::string>& arguments, const std::vector<OptionRule>& rules,
                    ParsedArguments& parsed, std::string& error);

// Names and tags come from files and users: control characters are shown as
// '?' so that they cannot move the cursor or end a report line.
std::string printable(const std::string& text);
// A path or name in a message: printable, in single quotes as a shell takes
// it ('my medium', 'it'\''s'), so that blanks and the ends stay visible.
std::string quoted(const std::string& text);

// How many single-character insertions, deletions, substitutions and swaps
// of two neighbours turn one text into the other: how near a mistyped word
// is to a known one.
size_t editDistance(const std::string& from, const std::string& to);
// Of `known` (commands or options), the one `given` is a near miss of, or ""
// when none is near enough to be what the user meant. Dashes in front and
// case do not count; a miss of three or four characters may be one edit
// away, a longer one two; one or two characters ("-v") are no word to guess from.
std::string nearMatch(const std::string& given, const std::vector<std::string>& known);

// SOURCE_DATE_EPOCH, the reproducible-builds convention (seconds since 1970):
// `set` tells whether it is given. False, with `error`, for a value that is
// no such number.
bool readSourceDateEpoch(bool& set, time_t& seconds, std::string& error);

void printError(const std::string& message);    // stderr, "kestrune-medium: error: ..."
void printWarning(const std::string& message);  // stderr, "kestrune-medium: warning: ..."
void printInfo(const std::string& message);     // stdout, the line as given
