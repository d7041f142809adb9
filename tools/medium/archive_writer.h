// Writing package.zip: each file deflated at the best level, or stored where
// that is no larger, and encrypted with traditional PKWARE encryption under the password built into the launcher (the cipher
// unzip.exe decrypts); each folder stored empty and unencrypted, as
// `zip -P` stores it, since a folder has no data to protect and its name
// stands in the clear in any ZIP archive. Names beyond ASCII that are UTF-8
// carry the UTF-8 flag. Each entry has its DOS date and time and an extended
// timestamp (to the second, in UTC). Sizes, offsets and counts too large for
// the headers' own fields go into zip64 fields and a zip64 end record, only
// where they are needed.
//
// The bytes depend only on the payload: the entries in the payload's order,
// their times (clamped to a given latest time), and encryption headers
// derived from each entry, so that the same payload gives the same archive.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "payload.h"

struct ArchiveWriteOptions {
    const char* password = nullptr;
    bool showProgress = false;
    // Asked while data is packed; true stops the write as a failure.
    bool (*cancelled)() = nullptr;
    // For reproducible archives (SOURCE_DATE_EPOCH): no entry is given a
    // later time than this, and times are written in UTC rather than in the
    // local time zone, so that the bytes do not depend on where they were made.
    bool clampTimes = false;
    time_t latestTime = 0;
    // Every entry and the end in the zip64 form, needed or not: for tests,
    // which cannot pack 4 GiB.
    bool zip64Everywhere = false;
};

// Writes the archive at `path`, which must not exist. On failure `error`
// names the file or step that failed and no archive is left at `path`.
// Each payload file is opened without following a link and must still be
// the regular file the scan found (same device, inode and size).
bool writePackageArchive(const Payload& payload, const std::string& path, const ArchiveWriteOptions& options,
                         std::string& error);

// An entry's time as an archive holds it: MS-DOS date and time fields.
struct DosDateTime {
    uint16_t date = 0;
    uint16_t time = 0;
};
// Times before 1980 or after 2107, which the fields cannot hold, are moved
// to the nearest one they can.
DosDateTime dosDateTime(time_t when, bool utc);

// The span of modification times an entry keeps: its extended timestamp's
// four bytes, read as unzip.exe and Info-ZIP read them (by the DOS year,
// which is 1980 for any time before it): 1901-12-13 20:45:52 to
// 2106-02-07 06:28:15 UTC. A time outside is packed as the nearer end.
constexpr int64_t earliestArchiveTime = -(int64_t{1} << 31);
constexpr int64_t latestArchiveTime = (int64_t{1} << 32) - 1;
int64_t archiveTime(time_t when);
// Why a file or folder of this time gets a time at an end of that span (the
// nearer end, or the end itself), or "": what check reports of such an
// entry too.
std::string archiveTimeWarning(time_t when);
// "2106-02-07 06:28:15 UTC".
std::string utcTimeText(int64_t when);
