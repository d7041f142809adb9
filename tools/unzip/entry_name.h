// Which entry names are safe to extract, and where below the destination they
// go. Both '/' and '\' count as separators, as they do on Windows.
#pragma once

#include <string>
#include <vector>

// Why `name` must not be extracted, or nullptr when it is safe: a safe name
// stays below the destination, names an ordinary file or directory (no device
// such as CON, COM1 or LPT\xb9) and keeps its spelling on Windows (no
// component ends in a dot or a blank). Whether two names of one archive name
// the same file is entry_clashes.h's question.
const char* entry_name_problem(const std::string& name);

// The path components of a safe name ("a/b/" gives "a", "b").
std::vector<std::string> entry_name_components(const std::string& name);

// The destination without trailing separators, except one that a root needs
// ("C:\Keep\\" gives "C:\Keep", "D:\\" gives "D:\", "/" stays "/").
std::string destination_directory(const std::string& destination);

// `directory` (as destination_directory gives it) followed by `count`
// components of `components`, joined with `separator`.
std::string join_below(const std::string& directory, const std::vector<std::string>& components,
                       size_t count, char separator);
