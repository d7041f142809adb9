// Where an entry of a tree really stands, decided from the full names the
// platform reports for opened files (their object names: "\??\C:\..." under
// Wine, "\Device\HarddiskVolume2\..." on Windows). Plain C++, so the decision
// can be tested with the platform's answers for every case.
#pragma once

#include <stddef.h>

// Whether an entry stands where its name says: its full name (the entry
// itself opened, a link at its own name not followed) is the full name of
// the directory it was found in (`directoryName`, a link above it followed),
// a backslash and `name`. Letters A to Z compare in either case, as the
// platform's names do. An empty full name (the platform could not say)
// never stands in place.
bool standsInPlace(const wchar_t* directoryName, const wchar_t* name, const wchar_t* entryName);

// Splits `path` (final backslashes ignored) into the directory that holds its
// last name and that name: "C:\TEMP\KESTRUNE" gives "C:\TEMP" and
// "KESTRUNE"; a drive root keeps its backslash ("C:\KESTRUNE" gives "C:\").
// False when the path has no directory part or it does not fit.
bool splitLastName(const char* path, char* directory, size_t directoryCapacity, char* name, size_t nameCapacity);
