#include "install/entry_position.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The full names as the platform reports them (the object names of the
// opened files; the forms of final paths too): the directory opened through
// its links, the entry opened without following a link at its own name.
struct PlaceCase {
    const char* what;
    const wchar_t* directoryName;
    const wchar_t* name;
    const wchar_t* entryName;
    bool inPlace;
};

const PlaceCase placeCases[] = {
    // TEMP moved to another drive: C:\Users\ann\AppData\Local\Temp is a
    // junction to D:\Temp. The directory read through the junction, the top
    // of the tree below it: in place, so the work directory is removed.
    {"TEMP behind a junction", L"\\\\?\\D:\\Temp", L"KESTRUNE", L"\\\\?\\D:\\Temp\\KESTRUNE", true},
    {"TEMP behind a directory link to a share", L"\\\\?\\UNC\\server\\share\\temp", L"KESTRUNE",
     L"\\\\?\\UNC\\server\\share\\temp\\KESTRUNE", true},
    {"a link higher above TEMP", L"\\\\?\\E:\\Users\\ann\\AppData\\Local\\Temp", L"KESTRUNE",
     L"\\\\?\\E:\\Users\\ann\\AppData\\Local\\Temp\\KESTRUNE", true},
    // A drive root's final path keeps its backslash.
    {"a drive root", L"\\\\?\\C:\\", L"KESTRUNE", L"\\\\?\\C:\\KESTRUNE", true},
    {"the platform's letter case", L"\\\\?\\C:\\Users\\Ann\\Temp", L"kestrune",
     L"\\\\?\\c:\\users\\ANN\\temp\\KESTRUNE", true},
    // Windows opens a junction inside the tree as the link itself: it stands
    // where its name says and is then deleted as a link.
    {"a junction inside the tree, opened as itself", L"\\\\?\\D:\\Temp\\KESTRUNE", L"docs",
     L"\\\\?\\D:\\Temp\\KESTRUNE\\docs", true},
    // A platform that follows the link anyway reports its target: left alone.
    {"a link inside the tree, followed", L"\\\\?\\C:\\t\\KESTRUNE", L"full-outside", L"\\\\?\\C:\\outside\\full",
     false},
    {"a link to a sibling of the same directory", L"\\\\?\\C:\\t", L"KESTRUNE", L"\\\\?\\C:\\t\\other", false},
    {"the work directory itself a link, followed", L"\\\\?\\C:\\t", L"KESTRUNE", L"\\\\?\\C:\\outside", false},
    // The object names of Wine and of Windows.
    {"Wine's form", L"\\??\\C:\\users\\ann\\Temp", L"KESTRUNE", L"\\??\\C:\\users\\ann\\Temp\\KESTRUNE", true},
    {"Wine's form of a drive root", L"\\??\\C:\\", L"KESTRUNE", L"\\??\\C:\\KESTRUNE", true},
    {"Wine's form, a link followed", L"\\??\\C:\\t\\KESTRUNE", L"docs", L"\\??\\Z:\\tmp\\docs", false},
    {"Windows' device form", L"\\Device\\HarddiskVolume2\\Temp", L"KESTRUNE",
     L"\\Device\\HarddiskVolume2\\Temp\\KESTRUNE", true},
    {"another volume with the same path", L"\\Device\\HarddiskVolume2\\Temp", L"KESTRUNE",
     L"\\Device\\HarddiskVolume3\\Temp\\KESTRUNE", false},
    // Paths the platform could not resolve.
    {"an entry the platform cannot resolve", L"\\\\?\\C:\\t", L"KESTRUNE", L"", false},
    {"a directory the platform cannot resolve", L"", L"KESTRUNE", L"\\KESTRUNE", false},
    {"an empty name", L"\\\\?\\C:\\t", L"", L"\\\\?\\C:\\t\\", false},
    // Near misses of the comparison itself.
    {"a longer name", L"\\\\?\\C:\\t", L"KESTRUNE", L"\\\\?\\C:\\t\\KESTRUNE2", false},
    {"a shorter name", L"\\\\?\\C:\\t", L"KESTRUNE", L"\\\\?\\C:\\t\\KESTRUN", false},
    {"a directory that only begins the same", L"\\\\?\\C:\\t", L"KESTRUNE", L"\\\\?\\C:\\tt\\KESTRUNE", false},
    {"a different volume form", L"\\\\?\\C:\\t", L"KESTRUNE", L"\\\\?\\Volume{1}\\t\\KESTRUNE", false},
};

TEST(EntryPosition, AnEntryStandsInPlaceOnlyWhereThePlatformSaysItsNameLeads) {
    for (const PlaceCase& c : placeCases) {
        EXPECT_EQ(standsInPlace(c.directoryName, c.name, c.entryName), c.inPlace) << c.what;
    }
    EXPECT_FALSE(standsInPlace(nullptr, L"KESTRUNE", L"\\\\?\\C:\\KESTRUNE"));
    EXPECT_FALSE(standsInPlace(L"\\\\?\\C:\\", L"KESTRUNE", nullptr));
}

TEST(EntryPosition, APathSplitsIntoItsDirectoryAndLastName) {
    struct Case {
        const char* path;
        bool split;
        const char* directory;
        const char* name;
    } cases[] = {
        {"C:\\TEMP\\KESTRUNE", true, "C:\\TEMP", "KESTRUNE"},
        {"C:\\KESTRUNE", true, "C:\\", "KESTRUNE"},
        {"C:\\TEMP\\KESTRUNE\\\\", true, "C:\\TEMP", "KESTRUNE"},
        {"\\\\server\\share\\KESTRUNE", true, "\\\\server\\share", "KESTRUNE"},
        {"C:\\a\\b\\c", true, "C:\\a\\b", "c"},
        {"KESTRUNE", false, "", ""},
        {"\\KESTRUNE", false, "", ""},
        {"C:\\", false, "", ""},
        {"", false, "", ""},
    };
    for (const Case& c : cases) {
        char directory[260] = "";
        char name[260] = "";
        EXPECT_EQ(splitLastName(c.path, directory, sizeof directory, name, sizeof name), c.split) << c.path;
        if (!c.split) continue;
        EXPECT_STREQ(directory, c.directory) << c.path;
        EXPECT_STREQ(name, c.name) << c.path;
    }
    char small[4];
    char name[260];
    EXPECT_FALSE(splitLastName("C:\\TEMP\\KESTRUNE", small, sizeof small, name, sizeof name));
    const std::string tooLong = "C:\\" + std::string(300, 'x');
    EXPECT_FALSE(splitLastName(tooLong.c_str(), small, sizeof small, name, sizeof name));
}

}  // namespace
