#include "hostile_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "hostile_paths.h"

using namespace testing_support;

namespace hostile {

namespace {
bool startsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

void addEntries(const std::string& path, bool recursive, std::map<std::string, std::string>& out) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        const std::string full = path + "\\" + name;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            out[full] = link ? "directory link" : "directory";
            if (recursive && !link) addEntries(full, recursive, out);
        } else {
            const ULONGLONG size = (ULONGLONG{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow;
            const ULONGLONG time =
                (ULONGLONG{entry.ftLastWriteTime.dwHighDateTime} << 32) | entry.ftLastWriteTime.dwLowDateTime;
            out[full] = "file " + std::to_string(size) + " " + std::to_string(time);
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}
}  // namespace

std::string hostileFixturePath(const std::string& name) {
    return windowsPathOf(kestruneHostileFixtureDirectory) + "\\" + name;
}

Medium mediumWithArchive(const std::string& name, const std::string& fixture) {
    Medium medium(name, MediumLayout{"", true, "", ""});
    copyFile(hostileFixturePath(fixture), medium.directory + "\\package.zip");
    return medium;
}

RecordedRun runHoldingOpen(const Medium& medium, const std::string& path, unsigned long share,
                           const std::string& arguments) {
    HANDLE held =
        CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(held, INVALID_HANDLE_VALUE) << path;
    const RecordedRun run = medium.run(arguments);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return run;
}

std::map<std::string, std::string> snapshotTree(const std::string& path, bool recursive) {
    std::map<std::string, std::string> entries;
    addEntries(path, recursive, entries);
    return entries;
}

OutsideWatch::OutsideWatch(const Medium& medium) : root_(medium.root), log_(medium.log), before_(now()) {}

std::map<std::string, std::string> OutsideWatch::now() const {
    std::map<std::string, std::string> entries = snapshotTree(root_);
    for (const auto& top : {std::string("C:"), std::string(scratchRoot)}) {
        for (const auto& entry : snapshotTree(top, false)) {
            // Directories of the drive's root change times all the time;
            // only their names count there.
            if (!startsWith(entry.first, root_)) entries[entry.first] = entry.second.substr(0, 4);
        }
    }
    return entries;
}

std::vector<std::string> OutsideWatch::changes(const std::vector<std::string>& expected) const {
    const auto after = now();
    auto ignored = [&](const std::string& path) {
        if (path == log_) return true;
        for (const std::string& prefix : expected) {
            if (path == prefix || startsWith(path, prefix + "\\")) return true;
        }
        return false;
    };
    std::vector<std::string> differences;
    for (const auto& entry : before_) {
        if (ignored(entry.first)) continue;
        const auto found = after.find(entry.first);
        if (found == after.end()) {
            differences.push_back("-" + entry.first);
        } else if (found->second != entry.second) {
            differences.push_back("~" + entry.first);
        }
    }
    for (const auto& entry : after) {
        if (!ignored(entry.first) && before_.count(entry.first) == 0) differences.push_back("+" + entry.first);
    }
    return differences;
}

std::vector<std::string> entriesBelow(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : snapshotTree(path)) names.push_back(entry.first.substr(path.size() + 1));
    return names;
}

}  // namespace hostile
