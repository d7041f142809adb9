// The exit codes of unzip.exe: the only place they are defined.
//
// The numbers are those Info-ZIP's unzip uses for the same conditions, so a
// launcher that interprets them works alike with this tool and with Info-ZIP
// unzip carried on a medium instead. Info-ZIP gives 12 for an archive whose
// entries overlap (a possible zip bomb); here it stands for every refusal of
// something an attacker could have arranged.
//
// When several problems occur, every entry that can be handled safely is still
// processed, and the code of the FIRST problem met (in central directory
// order) is returned: it is the one the first stderr line explains. Problems
// of the whole archive (clashing names, overlapping entries, too little free
// space) are found before anything is written, and then nothing is.
#pragma once

enum ExitCode {
    exitSuccess = 0,            // every entry extracted and verified
    exitDamagedArchive = 2,     // bad structure, bad CRC, truncated data
    exitOutOfMemory = 4,        // the memory to read the archive could not be had
    exitArchiveUnreadable = 9,  // archive missing or cannot be read
    exitBadUsage = 10,          // wrong command line
    exitRefusedEntryName = 12,  // an entry name could escape the destination or
                                // clashes with another's on Windows, a link
                                // stands in an entry's way, or entries overlap
    exitWriteFailed = 50,       // less free space than the archive declares, or
                                // a directory or file could not be written
    exitUnsupported = 81,       // multi-disk, unknown method or cipher
    exitWrongPassword = 82,     // missing or wrong password; entry not written
};
