// The exit codes of unzip.exe: the only place they are defined.
//
// The numbers are those Info-ZIP's unzip uses for the same conditions, so a
// launcher that interprets them works alike with this tool and with Info-ZIP
// unzip carried on a medium instead. refused_entry_name has no Info-ZIP
// counterpart and takes an unused number.
//
// When several problems occur, every entry that can be handled safely is still
// processed, and the code of the FIRST problem met (in central directory
// order) is returned: it is the one the first stderr line explains.
#pragma once

enum ExitCode {
    exit_success = 0,             // every entry extracted and verified
    exit_damaged_archive = 2,     // bad structure, bad CRC, truncated data
    exit_archive_unreadable = 9,  // archive missing or cannot be read
    exit_bad_usage = 10,          // wrong command line
    exit_refused_entry_name = 12, // an entry name could escape the destination
    exit_write_failed = 50,       // a directory or file could not be written
    exit_unsupported = 81,        // zip64, multi-disk, unknown method or cipher
    exit_wrong_password = 82,     // missing or wrong password; entry not written
};
