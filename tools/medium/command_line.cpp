#include "command_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

bool ParsedArguments::has(const std::string& option) const {
    return flags.count(option) != 0 || values.count(option) != 0;
}

std::string ParsedArguments::value(const std::string& option, const std::string& fallback) const {
    const auto found = values.find(option);
    return found == values.end() || found->second.empty() ? fallback : found->second.back();
}

std::vector<std::string> ParsedArguments::all(const std::string& option) const {
    const auto found = values.find(option);
    return found == values.end() ? std::vector<std::string>{} : found->second;
}

namespace {

const OptionRule* findRule(const std::vector<OptionRule>& rules, const std::string& name) {
    for (const OptionRule& rule : rules) {
        if (name == rule.name) return &rule;
    }
    return nullptr;
}

}  // namespace

bool parseArguments(const std::vector<std::string>& arguments, const std::vector<OptionRule>& rules,
                    ParsedArguments& parsed, std::string& error) {
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            parsed.positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const OptionRule* rule = findRule(rules, name);
        if (rule == nullptr) {
            std::vector<std::string> names;
            for (const OptionRule& known : rules) names.push_back(known.name);
            const std::string meant = nearMatch(name, names);
            error = "unknown option " + printable(name) + (meant.empty() ? "" : "; the nearest is " + meant);
            return false;
        }
        if (!rule->repeatable && parsed.has(name)) {
            error = "option " + name + " given more than once";
            return false;
        }
        if (!rule->takesValue) {
            if (equals != std::string::npos) {
                error = "option " + name + " takes no value";
                return false;
            }
            parsed.flags.insert(name);
            continue;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            error = "option " + name + " needs a value";
            return false;
        }
        // An empty value is never meaningful here: say so rather than fall
        // back on a default the user did not ask for.
        if (value.empty()) {
            error = "option " + name + " needs a non-empty value";
            return false;
        }
        parsed.values[name].push_back(value);
    }
    return true;
}

std::string printable(const std::string& text) {
    std::string shown = text;
    for (char& c : shown) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) c = '?';
    }
    return shown;
}

std::string quoted(const std::string& text) {
    std::string shown = "'";
    for (char c : printable(text)) shown += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return shown + "'";
}

size_t editDistance(const std::string& from, const std::string& to) {
    // Three rows: a swap of two neighbours looks two rows back.
    std::vector<size_t> beforePrevious(to.size() + 1), previous(to.size() + 1), current(to.size() + 1);
    for (size_t j = 0; j <= to.size(); ++j) previous[j] = j;
    for (size_t i = 1; i <= from.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= to.size(); ++j) {
            const size_t substitution = previous[j - 1] + (from[i - 1] == to[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitution});
            if (i > 1 && j > 1 && from[i - 1] == to[j - 2] && from[i - 2] == to[j - 1])
                current[j] = std::min(current[j], beforePrevious[j - 2] + 1);
        }
        beforePrevious.swap(previous);
        previous.swap(current);
    }
    return previous[to.size()];
}

namespace {

// A word as it is compared: no dashes in front, lower case.
std::string wordOf(const std::string& text) {
    std::string word = text.substr(std::min(text.find_first_not_of('-'), text.size()));
    for (char& c : word) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return word;
}

}  // namespace

std::string nearMatch(const std::string& given, const std::vector<std::string>& known) {
    const std::string word = wordOf(given);
    if (word.size() < 3) return "";
    const size_t allowed = word.size() <= 4 ? 1 : 2;
    std::string nearest;
    size_t best = allowed + 1;
    for (const std::string& candidate : known) {
        const size_t distance = editDistance(word, wordOf(candidate));
        if (distance < best) {
            nearest = candidate;
            best = distance;
        }
    }
    return nearest;
}

bool readSourceDateEpoch(bool& set, time_t& seconds, std::string& error) {
    set = false;
    const char* value = std::getenv("SOURCE_DATE_EPOCH");
    if (value == nullptr || *value == '\0') return true;
    char* end = nullptr;
    errno = 0;
    const long long given = std::strtoll(value, &end, 10);
    if (errno != 0 || *end != '\0' || given < 0 || *value < '0' || *value > '9') {
        error = "SOURCE_DATE_EPOCH " + quoted(value) + " is not a number of seconds since 1970";
        return false;
    }
    set = true;
    seconds = static_cast<time_t>(given);
    return true;
}

void printError(const std::string& message) { std::fprintf(stderr, "kestrune-medium: error: %s\n", message.c_str()); }

void printWarning(const std::string& message) {
    std::fprintf(stderr, "kestrune-medium: warning: %s\n", message.c_str());
}

void printInfo(const std::string& message) { std::fprintf(stdout, "%s\n", message.c_str()); }
