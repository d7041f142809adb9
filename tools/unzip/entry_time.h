// The modification time an extracted file or folder gets from its entry.
// Portable; the platform turns it into its own time (file_system.h).
#pragma once

#include <stdint.h>

#include "zip_archive.h"

// A date and time of day, as the DOS fields of an entry hold them.
struct CalendarTime {
    uint16_t year;
    uint8_t month;  // 1 to 12
    uint8_t day;    // 1 to the month's last
    uint8_t hour;
    uint8_t minute;
    uint8_t second;  // even: the fields count in twos
};

struct EntryTime {
    enum class Kind : uint8_t {
        none,   // nothing to set: the file keeps the time it was written at
        utc,    // `unixTime`: seconds since 1970 in UTC
        local,  // `local`: a time of day on the extracting machine's clock
    };
    Kind kind;
    int64_t unixTime;
    CalendarTime local;
};

// The entry's extended timestamp when it has one, else its DOS date and time
// (local time, as Info-ZIP reads them on Windows), else none when those
// fields name no real time.
EntryTime zipEntryTime(const ZipEntry& entry);

// The DOS date and time fields as a calendar time; false when they name none
// (month 0 or 13, February 30, hour 24 and the like).
bool dosCalendarTime(uint16_t date, uint16_t time, CalendarTime& calendar);
