// The work directory choice, the child command lines and the bounded text
// helpers they are made of, over arbitrary texts: each result is exactly what
// the rules say when it fits in 259 characters (and in the buffer given), and
// otherwise refused with the buffer unchanged. Buffers are exactly sized heap
// blocks so that ASan sees any write past them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "install/commands.h"
#include "launcher/constants.h"
#include "package_password.h"
#include "support/fuzz_check.h"
#include "support/windows_arguments.h"
#include "text/bounded_text.h"

namespace {

constexpr unsigned char untouched = 0xA5;

// An output buffer of exactly `capacity` bytes, filled with a pattern so that
// any change on refusal shows.
struct OutputBuffer {
    explicit OutputBuffer(size_t size) : capacity(size), bytes(new char[size]) {
        std::memset(bytes, untouched, capacity);
    }
    ~OutputBuffer() { delete[] bytes; }
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    bool untouchedAll() const {
        for (size_t i = 0; i < capacity; ++i) {
            if (static_cast<unsigned char>(bytes[i]) != untouched) return false;
        }
        return true;
    }
    bool holds(const std::string& text) const {
        return text.size() < capacity && std::memcmp(bytes, text.c_str(), text.size() + 1) == 0;
    }

    size_t capacity;
    char* bytes;
};

bool fitsIn(const std::string& text, size_t capacity) {
    return text.size() <= pathBufferSize - 1 && text.size() < capacity;
}

// The common contract of every compose function.
void checkComposed(bool composed, const OutputBuffer& out, const std::string& expected) {
    FUZZ_CHECK(composed == fitsIn(expected, out.capacity));
    if (composed) {
        FUZZ_CHECK(out.holds(expected));
    } else {
        FUZZ_CHECK(out.untouchedAll());
    }
}

std::string withoutQuotes(const std::string& text) {
    std::string result;
    for (char c : text) {
        if (c != '"') result += c;
    }
    return result;
}

bool hasQuote(const std::string& text) { return text.find('"') != std::string::npos; }

// The password is fixed at build time with no blanks, quotes or backslashes.
bool isBuildablePassword(const std::string& text) {
    return !text.empty() && text.find_first_of(" \t\"\\") == std::string::npos;
}

// Child command lines must split back into the intended arguments.
void checkSplits(const std::string& command, const std::vector<std::string>& arguments) {
    for (QuoteRules rules : {QuoteRules::classic, QuoteRules::modern}) {
        FUZZ_CHECK(splitCommandLine(command, rules) == arguments);
    }
}

struct Inputs {
    std::string dText;
    bool hasTemporaryPath = false;
    std::string temporaryPath;
    std::string packageDirectory;
    std::string password = packagePassword;  // the build's, until the input gives one
    size_t capacity = pathBufferSize;
    int silent = 0;
    int msiMarker = 0;
    long number = 0;
};

// Fields separated by zero bytes: D text, temporary path (absent: none to be
// had), package directory, password (when it is one the build accepts), then
// control bytes: output capacity, setup form switches, a number.
Inputs splitInputs(const uint8_t* data, size_t size) {
    std::vector<std::string> fields(1);
    size_t i = 0;
    for (; i < size && fields.size() <= 4; ++i) {
        if (data[i] == 0) {
            fields.emplace_back();
        } else {
            fields.back() += static_cast<char>(data[i]);
        }
    }
    Inputs inputs;
    inputs.dText = fields[0];
    if (fields.size() > 1) {
        inputs.hasTemporaryPath = true;
        inputs.temporaryPath = fields[1];
    }
    if (fields.size() > 2) inputs.packageDirectory = fields[2];
    if (fields.size() > 3 && isBuildablePassword(fields[3])) inputs.password = fields[3];
    if (fields.size() > 4) {
        const std::string& control = fields[4];
        // The remaining bytes, zero bytes included.
        const std::string rest(reinterpret_cast<const char*>(data) + i, size - i);
        const std::string controls = control + rest;
        if (!controls.empty()) inputs.capacity = 1 + static_cast<unsigned char>(controls[0]);
        if (controls.size() > 1) {
            inputs.silent = controls[1] & 3;
            inputs.msiMarker = (controls[1] >> 2) & 3;
        }
        for (size_t k = 2; k < controls.size() && k < 2 + sizeof(long); ++k) {
            inputs.number = static_cast<long>((static_cast<unsigned long>(inputs.number) << 8) |
                                              static_cast<unsigned char>(controls[k]));
        }
    }
    return inputs;
}

char* heapText(const std::string& text) {
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

void checkWorkDirectory(const Inputs& in, size_t capacity, std::string& chosen) {
    char* dText = heapText(in.dText);
    char* temporary = in.hasTemporaryPath ? heapText(in.temporaryPath) : nullptr;
    const std::string unquoted = withoutQuotes(in.dText);
    FUZZ_CHECK(workDirectoryIsNamed(dText) == !unquoted.empty());

    OutputBuffer out(capacity);
    const WorkDirectoryChoice choice = chooseWorkDirectory(dText, temporary, out.bytes, out.capacity);
    if (unquoted.empty() && (!in.hasTemporaryPath || in.temporaryPath.empty())) {
        FUZZ_CHECK(choice == WorkDirectoryChoice::noTemporaryPath);
        FUZZ_CHECK(out.untouchedAll());
    } else {
        const bool named = !unquoted.empty();
        const std::string expected =
            named ? (unquoted.find(':') == std::string::npos ? "C:\\" : "") + unquoted : in.temporaryPath + "KESTRUNE";
        const bool fits = fitsIn(expected, capacity);
        FUZZ_CHECK(choice == (!fits   ? WorkDirectoryChoice::tooLong
                              : named ? WorkDirectoryChoice::named
                                      : WorkDirectoryChoice::temporary));
        if (fits) {
            FUZZ_CHECK(out.holds(expected));
            chosen = expected;
        } else {
            FUZZ_CHECK(out.untouchedAll());
        }
    }
    delete[] temporary;
    delete[] dText;
}

void checkCommands(const std::string& workDirectory, const Inputs& in, size_t capacity) {
    char* work = heapText(workDirectory);
    char* package = heapText(in.packageDirectory);
    char* password = heapText(in.password);
    const bool splittable = !hasQuote(workDirectory) && !hasQuote(in.packageDirectory);

    {
        const std::string unzipPath = in.packageDirectory + "\\unzip.exe";
        const std::string packagePath = in.packageDirectory + "\\package.zip";
        const std::string expected = quoteArgument(unzipPath) + " -P " + in.password + " " +
                                     quoteArgument(packagePath) + " -d " + quoteArgument(workDirectory);
        OutputBuffer out(capacity);
        const bool composed = composeExtractionCommand(package, password, work, out.bytes, out.capacity);
        checkComposed(composed, out, expected);
        if (composed && splittable) {
            checkSplits(out.bytes, {unzipPath, "-P", in.password, packagePath, "-d", workDirectory});
        }
    }

    const std::string setupPath = workDirectory + "\\SETUP.EXE";
    const struct {
        SetupForm form;
        const char* arguments;
        std::vector<std::string> split;
    } forms[] = {
        {SetupForm::interactive, "", {setupPath}},
        {SetupForm::msiQuiet, " /qn REBOOT=ReallySuppress", {setupPath, "/qn", "REBOOT=ReallySuppress"}},
        {SetupForm::silent, " -s -SMS", {setupPath, "-s", "-SMS"}},
    };
    for (const auto& f : forms) {
        OutputBuffer out(capacity);
        const bool composed = composeSetupCommand(f.form, work, out.bytes, out.capacity);
        checkComposed(composed, out, quoteArgument(setupPath) + f.arguments);
        if (composed && splittable) checkSplits(out.bytes, f.split);
    }

    const std::string scriptPath = workDirectory + "\\PostProcess.cmd";
    {
        OutputBuffer out(capacity);
        checkComposed(composeScriptPath(work, out.bytes, out.capacity), out, scriptPath);
    }
    {
        OutputBuffer out(capacity);
        const bool composed = composeScriptCommand(work, out.bytes, out.capacity);
        checkComposed(composed, out, quoteArgument(scriptPath));
        if (composed && splittable) checkSplits(out.bytes, {scriptPath});
    }
    {
        OutputBuffer out(capacity);
        checkComposed(joinPath(work, package, out.bytes, out.capacity), out,
                      workDirectory + "\\" + in.packageDirectory);
    }
    delete[] password;
    delete[] package;
    delete[] work;
}

void checkSetupForm(const Inputs& in) {
    const SetupForm expected = in.silent != 1      ? SetupForm::interactive
                               : in.msiMarker == 1 ? SetupForm::msiQuiet
                                                   : SetupForm::silent;
    FUZZ_CHECK(chooseSetupForm(in.silent, in.msiMarker) == expected);
}

// The helpers themselves: a text already in the buffer and one to add.
void checkBoundedText(const std::string& start, const std::string& added, long number, size_t capacity) {
    const std::string kept = start.substr(0, capacity - 1);
    char* source = heapText(added);
    // Each helper on its own buffer of exactly `capacity` bytes holding `kept`.
    const auto checkOnKept = [&](const std::string& expectedAdded, bool (*helper)(char*, size_t, const char*, long),
                                 bool replaces) {
        char* dest = new char[capacity];
        std::memcpy(dest, kept.c_str(), kept.size() + 1);
        const bool fits = helper(dest, capacity, source, number);
        const std::string whole = replaces ? expectedAdded : kept + expectedAdded;
        FUZZ_CHECK(fits == (whole.size() < capacity));
        FUZZ_CHECK(std::string(dest) == (fits ? whole : kept));
        delete[] dest;
    };
    checkOnKept(
        added, [](char* d, size_t c, const char* s, long) { return appendText(d, c, s); }, false);
    checkOnKept(
        std::to_string(number), [](char* d, size_t c, const char*, long n) { return appendDecimal(d, c, n); }, false);
    checkOnKept(
        added, [](char* d, size_t c, const char* s, long) { return copyText(d, c, s); }, true);
    {
        char* dest = new char[capacity];
        FUZZ_CHECK(copyLeadingText(dest, capacity, source) == (added.size() < capacity));
        FUZZ_CHECK(std::string(dest) == added.substr(0, capacity - 1));
        delete[] dest;
    }
    {
        char* haystack = heapText(start);
        const char* found = findText(haystack, source);
        const size_t at = start.find(added);
        FUZZ_CHECK(found == (at == std::string::npos ? nullptr : haystack + at));
        FUZZ_CHECK(textLength(haystack) == start.size());
        FUZZ_CHECK(textsEqual(haystack, source) == (start == added));
        FUZZ_CHECK(containsChar(haystack, added.empty() ? 'x' : added[0]) ==
                   (start.find(added.empty() ? 'x' : added[0]) != std::string::npos));
        delete[] haystack;
    }
    delete[] source;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Inputs in = splitInputs(data, size);
    checkSetupForm(in);
    for (size_t capacity : {pathBufferSize, in.capacity}) {
        std::string chosen;
        checkWorkDirectory(in, capacity, chosen);
        // The launcher's flow: commands for the chosen directory; and the D
        // text as it stands, for texts the choice would not let through.
        if (!chosen.empty()) checkCommands(chosen, in, capacity);
        checkCommands(in.dText, in, capacity);
        checkBoundedText(in.dText, in.packageDirectory, in.number, capacity);
    }
    return 0;
}
