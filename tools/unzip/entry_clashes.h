// Which entries of one archive would name the same file or folder on
// Windows, so that which one Windows ends up with depends on their order.
// Portable: unzip.exe asks before it writes anything, and kestrune-medium
// can ask the same of a package it checks or builds.
//
// The rule is conservative, since the machine the package will run on is not
// known:
//  - names are compared without case: ASCII letters, and the bytes that are
//    the two cases of one letter in any of the Windows ANSI code pages 1250
//    to 1258 (two names clash when they are equal under one of them; the
//    double-byte code pages are not modelled);
//  - trailing dots and blanks of each component are dropped, as Windows
//    drops them;
//  - a file and a folder of the same name clash; two folders of the same
//    name do not (they are one folder, whose files are compared);
//  - a component of the short-name form NAME~N.EXT (at most 8 and 3
//    characters, a '~' and digits ending the first part) clashes with every
//    component beside it in the same folder that is not itself an 8.3 name:
//    Windows may give any such long name that short name, and which one gets
//    it depends on the order of creation, so no finer test is safe.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct EntryClash {
    size_t entry;       // index into the names given: the later of the two
    size_t other;       // the earlier entry it clashes with
    const char* reason; // a fixed phrase, e.g. "they differ only in case"
};

// Every entry of `names` (as stored in the archive: '/' or '\' between
// components, a folder ending in one) that clashes with an earlier one, at
// most one clash per entry, in entry order. A caller can print each as
//   "<names[entry]>" and "<names[other]>" name the same file on Windows: <reason>
// Names with an empty, "." or ".." component (which entry_name_problem
// refuses anyway) are left out.
std::vector<EntryClash> find_entry_clashes(const std::vector<std::string>& names);
