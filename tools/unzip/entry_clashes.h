// Which entries of one archive would name the same file or folder on
// Windows, so that which one Windows ends up with depends on their order.
// Portable, on plain arrays: unzip.exe asks before it writes anything, and
// kestrune-medium can ask the same of a package it checks or builds (through
// zip_reader_containers.h).
//
// The rule is conservative, since the machine the package will run on is not
// known:
//  - names (in UTF-16, as Windows spells them: decodeEntryName) are compared
//    in upper case, each character mapped by Unicode's simple upper case in
//    the Basic Multilingual Plane (unicode_text.h), as Windows' own table
//    maps them; characters beyond it compare as they are;
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

#include <stddef.h>

// An entry's name in UTF-16: '/' or '\' between components, a folder's
// ending in one.
struct EntryName {
    const char16_t* text;
    size_t length;
};

struct EntryClash {
    size_t entry;        // index into the names given: the later of the two
    size_t other;        // the earlier entry it clashes with
    const char* reason;  // a fixed phrase, e.g. "they differ only in case"
};

// The bytes of work memory findEntryClashes needs for these names.
size_t entryClashWorkSize(const EntryName* names, size_t count);

// Every entry of `names` that clashes with an earlier one, at most one clash
// per entry, in entry order, into `clashes` (room for `count`); returns how
// many. `work` holds entryClashWorkSize bytes, aligned as malloc aligns. A
// caller can print each as
//   "<names[entry]>" and "<names[other]>" name the same file on Windows: <reason>
// Names with an empty, "." or ".." component (which entryNameProblem refuses
// anyway) are left out.
size_t findEntryClashes(const EntryName* names, size_t count, void* work, EntryClash* clashes);

// Whether a component has the form Windows gives short names of long ones:
// "PROGRA~1", "AB12F3~2.TXT".
bool isShortNameAlias(const char16_t* component, size_t length);
