#include "entry_time.h"

namespace {

unsigned daysInMonth(unsigned year, unsigned month) {
    if (month == 2) return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 29 : 28;
    return (month == 4 || month == 6 || month == 9 || month == 11) ? 30 : 31;
}

}  // namespace

bool dosCalendarTime(uint16_t date, uint16_t time, CalendarTime& calendar) {
    const unsigned year = 1980u + (date >> 9);
    const unsigned month = date >> 5 & 0x0f;
    const unsigned day = date & 0x1f;
    const unsigned hour = time >> 11;
    const unsigned minute = time >> 5 & 0x3f;
    const unsigned second = (time & 0x1f) * 2u;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59) {
        return false;
    }
    calendar = CalendarTime{static_cast<uint16_t>(year), static_cast<uint8_t>(month),  static_cast<uint8_t>(day),
                            static_cast<uint8_t>(hour),  static_cast<uint8_t>(minute), static_cast<uint8_t>(second)};
    return true;
}

EntryTime zipEntryTime(const ZipEntry& entry) {
    EntryTime time{};
    if (entry.hasUnixTime) {
        time.kind = EntryTime::Kind::utc;
        time.unixTime = entry.unixTime;
    } else if (dosCalendarTime(entry.dosDate, entry.dosTime, time.local)) {
        time.kind = EntryTime::Kind::local;
    }
    return time;
}
