#include "entry_clashes.h"

#include "entry_name.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

// Lower- and upper-case byte pairs above 0x7f, per ANSI code page, as the
// code page's characters map to upper case. 1256 and 1258 fold a subset of
// 1252's pairs, and 874 and 1255 none, so they need no table of their own.
const char* const high_case_pairs[] = {
    // 1250, Central European
    "\x9a\x8a\x9c\x8c\x9d\x8d\x9e\x8e\x9f\x8f\xb3\xa3\xb9\xa5\xba\xaa"
    "\xbe\xbc\xbf\xaf\xe0\xc0\xe1\xc1\xe2\xc2\xe3\xc3\xe4\xc4\xe5\xc5"
    "\xe6\xc6\xe7\xc7\xe8\xc8\xe9\xc9\xea\xca\xeb\xcb\xec\xcc\xed\xcd"
    "\xee\xce\xef\xcf\xf0\xd0\xf1\xd1\xf2\xd2\xf3\xd3\xf4\xd4\xf5\xd5"
    "\xf6\xd6\xf8\xd8\xf9\xd9\xfa\xda\xfb\xdb\xfc\xdc\xfd\xdd\xfe\xde",
    // 1251, Cyrillic
    "\x83\x81\x90\x80\x9a\x8a\x9c\x8c\x9d\x8d\x9e\x8e\x9f\x8f\xa2\xa1"
    "\xb3\xb2\xb4\xa5\xb8\xa8\xba\xaa\xbc\xa3\xbe\xbd\xbf\xaf\xe0\xc0"
    "\xe1\xc1\xe2\xc2\xe3\xc3\xe4\xc4\xe5\xc5\xe6\xc6\xe7\xc7\xe8\xc8"
    "\xe9\xc9\xea\xca\xeb\xcb\xec\xcc\xed\xcd\xee\xce\xef\xcf\xf0\xd0"
    "\xf1\xd1\xf2\xd2\xf3\xd3\xf4\xd4\xf5\xd5\xf6\xd6\xf7\xd7\xf8\xd8"
    "\xf9\xd9\xfa\xda\xfb\xdb\xfc\xdc\xfd\xdd\xfe\xde\xff\xdf",
    // 1252, Western European
    "\x9a\x8a\x9c\x8c\x9e\x8e\xe0\xc0\xe1\xc1\xe2\xc2\xe3\xc3\xe4\xc4"
    "\xe5\xc5\xe6\xc6\xe7\xc7\xe8\xc8\xe9\xc9\xea\xca\xeb\xcb\xec\xcc"
    "\xed\xcd\xee\xce\xef\xcf\xf0\xd0\xf1\xd1\xf2\xd2\xf3\xd3\xf4\xd4"
    "\xf5\xd5\xf6\xd6\xf8\xd8\xf9\xd9\xfa\xda\xfb\xdb\xfc\xdc\xfd\xdd"
    "\xfe\xde\xff\x9f",
    // 1253, Greek
    "\xb5\xcc\xdc\xa2\xdd\xb8\xde\xb9\xdf\xba\xe1\xc1\xe2\xc2\xe3\xc3"
    "\xe4\xc4\xe5\xc5\xe6\xc6\xe7\xc7\xe8\xc8\xe9\xc9\xea\xca\xeb\xcb"
    "\xec\xcc\xed\xcd\xee\xce\xef\xcf\xf0\xd0\xf1\xd1\xf2\xd3\xf3\xd3"
    "\xf4\xd4\xf5\xd5\xf6\xd6\xf7\xd7\xf8\xd8\xf9\xd9\xfa\xda\xfb\xdb"
    "\xfc\xbc\xfd\xbe\xfe\xbf",
    // 1254, Turkish: the dotless i is an upper-case I
    "\x9a\x8a\x9c\x8c\xe0\xc0\xe1\xc1\xe2\xc2\xe3\xc3\xe4\xc4\xe5\xc5"
    "\xe6\xc6\xe7\xc7\xe8\xc8\xe9\xc9\xea\xca\xeb\xcb\xec\xcc\xed\xcd"
    "\xee\xce\xef\xcf\xf0\xd0\xf1\xd1\xf2\xd2\xf3\xd3\xf4\xd4\xf5\xd5"
    "\xf6\xd6\xf8\xd8\xf9\xd9\xfa\xda\xfb\xdb\xfc\xdc\xfd\x49\xfe\xde"
    "\xff\x9f",
    // 1257, Baltic
    "\xb8\xa8\xba\xaa\xbf\xaf\xe0\xc0\xe1\xc1\xe2\xc2\xe3\xc3\xe4\xc4"
    "\xe5\xc5\xe6\xc6\xe7\xc7\xe8\xc8\xe9\xc9\xea\xca\xeb\xcb\xec\xcc"
    "\xed\xcd\xee\xce\xef\xcf\xf0\xd0\xf1\xd1\xf2\xd2\xf3\xd3\xf4\xd4"
    "\xf5\xd5\xf6\xd6\xf8\xd8\xf9\xd9\xfa\xda\xfb\xdb\xfc\xdc\xfd\xdd"
    "\xfe\xde",
};

const char* const same_name = "the same name twice";
const char* const differ_in_case = "they differ only in case";
const char* const differ_in_trailing =
    "they differ only in trailing dots or blanks, which Windows drops";
const char* const differ_in_case_and_trailing =
    "they differ only in case and in trailing dots or blanks, which Windows drops";
const char* const file_and_folder = "one is a file, the other a folder of the same name";
const char* const short_name_alias = "one may be Windows' short name (NAME~1.EXT) for the other";

// Upper case of every byte under one code page.
struct CaseTable {
    unsigned char upper[256];
};

CaseTable case_table(const char* pairs)
{
    CaseTable table{};
    for (int byte = 0; byte < 256; ++byte)
        table.upper[byte] = static_cast<unsigned char>(byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte);
    for (const char* pair = pairs; pair[0] != '\0'; pair += 2)
        table.upper[static_cast<unsigned char>(pair[0])] = static_cast<unsigned char>(pair[1]);
    return table;
}

std::string without_trailing_dots_and_blanks(std::string component)
{
    while (!component.empty() && (component.back() == '.' || component.back() == ' '))
        component.pop_back();
    return component;
}

std::string in_upper_case(std::string text, const CaseTable& table)
{
    for (char& c : text)
        c = static_cast<char>(table.upper[static_cast<unsigned char>(c)]);
    return text;
}

// An 8.3 name in any case: Windows gives it no second, short name.
bool is_short_name(const std::string& component)
{
    const size_t dot = component.find('.');
    const size_t base_length = dot == std::string::npos ? component.size() : dot;
    const size_t extension_length = dot == std::string::npos ? 0 : component.size() - dot - 1;
    if (base_length == 0 || base_length > 8 || extension_length > 3 ||
        (dot != std::string::npos && (extension_length == 0 || component.find('.', dot + 1) != std::string::npos)))
        return false;
    for (char c : component) {
        const bool letter_or_digit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (c != '.' && !letter_or_digit && std::strchr("!#$%&'()-@^_`{}~", c) == nullptr)
            return false;
    }
    return true;
}

// The form Windows gives short names of long ones: "PROGRA~1", "AB12F3~2.TXT".
bool is_short_name_alias(const std::string& component)
{
    if (!is_short_name(component))
        return false;
    const std::string base = component.substr(0, component.find('.'));
    const size_t tilde = base.rfind('~');
    return tilde != std::string::npos && tilde > 0 && tilde + 1 < base.size() &&
           base.find_first_not_of("0123456789", tilde + 1) == std::string::npos;
}

// Why the first `depth` components of two entries, which fold to the same
// key, clash; nullptr when they do not (two folders are one folder).
const char* clash_reason(const std::vector<std::string>& one, const std::vector<std::string>& other,
                         size_t depth, bool one_is_file, bool other_is_file, const CaseTable& table)
{
    if (!one_is_file && !other_is_file)
        return nullptr;
    if (one_is_file != other_is_file)
        return file_and_folder;
    bool same = true;
    bool same_but_trailing = true;
    bool same_but_case = true;
    for (size_t i = 0; i < depth; ++i) {
        same = same && one[i] == other[i];
        same_but_trailing = same_but_trailing &&
                            without_trailing_dots_and_blanks(one[i]) == without_trailing_dots_and_blanks(other[i]);
        same_but_case = same_but_case && in_upper_case(one[i], table) == in_upper_case(other[i], table);
    }
    if (same)
        return same_name;
    if (same_but_trailing)
        return differ_in_trailing;
    return same_but_case ? differ_in_case : differ_in_case_and_trailing;
}

// The first entry to use a path, and whether it used it as a file.
struct PathUse {
    size_t entry;
    bool is_file;
};

// The names that stand in one folder: those of the short-name form, and the
// first that is not an 8.3 name, each with the first entry that used it.
struct FolderNames {
    std::vector<PathUse> aliases;
    bool has_long_name = false;
    PathUse long_name{0, false};
};

class ClashFinder {
public:
    explicit ClashFinder(const std::vector<std::string>& names)
        : names_(names), reported_(names.size(), false)
    {
        for (const std::string& name : names)
            components_.push_back(entry_name_components(name));
    }

    void find_under(const CaseTable& table)
    {
        std::map<std::string, PathUse> uses;       // folded path -> first use
        std::map<std::string, FolderNames> folders; // folded folder path -> names in it
        for (size_t entry = 0; entry < names_.size(); ++entry) {
            std::vector<std::string> keys;
            if (!fold_components(components_[entry], table, keys))
                continue;
            const bool is_folder_entry = names_[entry].back() == '/' || names_[entry].back() == '\\';
            std::string path;
            for (size_t depth = 1; depth <= keys.size(); ++depth) {
                const std::string folder = path;
                path += (depth > 1 ? "/" : "") + keys[depth - 1];
                const bool is_file = depth == keys.size() && !is_folder_entry;
                const auto [use, is_new] = uses.emplace(path, PathUse{entry, is_file});
                if (is_new) {
                    note_in_folder(folders[folder], components_[entry][depth - 1], use->second);
                    continue;
                }
                const PathUse& first = use->second;
                if (const char* reason = clash_reason(components_[entry], components_[first.entry], depth,
                                                      is_file, first.is_file, table))
                    report(entry, first.entry, reason);
            }
        }
        for (const auto& [folder, names] : folders) {
            if (!names.has_long_name)
                continue;
            for (const PathUse& alias : names.aliases)
                report(std::max(alias.entry, names.long_name.entry), std::min(alias.entry, names.long_name.entry),
                       short_name_alias);
        }
    }

    std::vector<EntryClash> clashes()
    {
        std::stable_sort(clashes_.begin(), clashes_.end(),
                         [](const EntryClash& a, const EntryClash& b) { return a.entry < b.entry; });
        return clashes_;
    }

private:
    // Each component without trailing dots and blanks, in upper case; false
    // when one is left empty (".", "..", " ") or there is none.
    static bool fold_components(const std::vector<std::string>& components, const CaseTable& table,
                                std::vector<std::string>& keys)
    {
        for (const std::string& component : components) {
            keys.push_back(in_upper_case(without_trailing_dots_and_blanks(component), table));
            if (keys.back().empty())
                return false;
        }
        return !keys.empty();
    }

    static void note_in_folder(FolderNames& folder, const std::string& component, const PathUse& use)
    {
        if (is_short_name_alias(component)) {
            folder.aliases.push_back(use);
        } else if (!folder.has_long_name && !is_short_name(component)) {
            folder.has_long_name = true;
            folder.long_name = use;
        }
    }

    void report(size_t entry, size_t other, const char* reason)
    {
        if (reported_[entry])
            return;
        reported_[entry] = true;
        clashes_.push_back(EntryClash{entry, other, reason});
    }

    const std::vector<std::string>& names_;
    std::vector<std::vector<std::string>> components_;
    std::vector<bool> reported_;
    std::vector<EntryClash> clashes_;
};

} // namespace

std::vector<EntryClash> find_entry_clashes(const std::vector<std::string>& names)
{
    ClashFinder finder(names);
    for (const char* pairs : high_case_pairs)
        finder.find_under(case_table(pairs));
    return finder.clashes();
}
