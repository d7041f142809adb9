#include "entry_name.h"

#include <cstring>

namespace {

bool is_separator(char c)
{
    return c == '/' || c == '\\';
}

bool is_dot_or_space_only(const std::string& component)
{
    return component.find_first_not_of(". ") == std::string::npos;
}

// Windows opens a device, not a file, for these base names, whatever the
// extension ("nul.txt" too) and case.
bool is_windows_device_name(const std::string& component)
{
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* device : devices)
        if (base == device)
            return true;
    if (base.size() != 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0))
        return false;
    // The superscripts 1, 2 and 3 count as port numbers too; these are their
    // bytes in the ANSI code page (1252) that the names are created with.
    const unsigned char number = static_cast<unsigned char>(base[3]);
    return (number >= '0' && number <= '9') || number == 0xb9 || number == 0xb2 || number == 0xb3;
}

std::vector<std::string> split_components(const std::string& name)
{
    std::vector<std::string> components(1);
    for (char c : name) {
        if (is_separator(c))
            components.emplace_back();
        else
            components.back() += c;
    }
    return components;
}

} // namespace

const char* entry_name_problem(const std::string& name)
{
    if (name.empty())
        return "empty name";
    if (is_separator(name[0]))
        return "absolute path";
    for (char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        // ':' would name a drive ("C:x" is relative to C:'s current
        // directory) or an NTFS stream.
        if (c == ':')
            return "drive letter or stream name";
        if (byte < 0x20 || byte == 0x7f)
            return "control character";
        if (std::strchr("<>\"|?*", c) != nullptr)
            return "character Windows does not allow";
    }
    std::vector<std::string> components = split_components(name);
    if (is_separator(name.back()))
        components.pop_back(); // a directory entry's trailing separator
    for (const std::string& component : components) {
        if (component.empty())
            return "empty path component";
        // Covers ".." and the forms Windows trims to it ("...", ".. ").
        if (is_dot_or_space_only(component))
            return "parent or current directory component";
        // Windows drops them, so the file would get another name than the
        // entry's, perhaps another entry's.
        if (component.back() == '.' || component.back() == ' ')
            return "ends in a dot or a blank, which Windows drops";
        if (is_windows_device_name(component))
            return "reserved device name";
    }
    return nullptr;
}

std::vector<std::string> entry_name_components(const std::string& name)
{
    std::vector<std::string> components = split_components(name);
    if (!name.empty() && is_separator(name.back()))
        components.pop_back();
    return components;
}

std::string destination_directory(const std::string& destination)
{
    std::string directory = destination;
    while (directory.size() > 1 && is_separator(directory.back()) &&
           directory[directory.size() - 2] != ':')
        directory.pop_back();
    return directory;
}

std::string join_below(const std::string& directory, const std::vector<std::string>& components,
                       size_t count, char separator)
{
    std::string path = directory;
    for (size_t i = 0; i < count && i < components.size(); ++i) {
        if (!path.empty() && !is_separator(path.back()))
            path += separator;
        path += components[i];
    }
    return path;
}
