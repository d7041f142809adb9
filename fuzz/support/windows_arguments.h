// Independent readings of the Windows argument rules, written for the
// harnesses only: the launcher's quoting is checked against these rather than
// against itself. Single-byte code page assumed (no DBCS lead bytes).
#pragma once

#include <string>
#include <vector>

enum class QuoteRules {
    // CommandLineToArgvW and the C runtime before Visual C++ 2008
    // (msvcrt.dll): "" inside a quoted part gives a literal quote and ends
    // the quoted part.
    classic,
    // The C runtime from Visual C++ 2008 on and the Universal CRT: "" inside a
    // quoted part gives a literal quote and the quoted part goes on.
    modern,
};

// The whole command line split as the C runtime builds argv: the program
// name first (a quoted one runs to the next quote, no backslash rules; an
// unquoted one to the next space or tab), then the other arguments: blanks
// (space, tab) separate them outside quotes; 2n backslashes and a quote give n
// backslashes and toggle quoting; 2n+1 backslashes and a quote give n
// backslashes and a literal quote; other backslashes are literal.
std::vector<std::string> splitCommandLine(const std::string& commandLine, QuoteRules rules);

// Quotes `text` for those rules: a quote before and after, each quote inside
// escaped by a backslash, and every run of backslashes that ends at a quote
// or at the closing quote doubled.
std::string quoteArgument(const std::string& text);
