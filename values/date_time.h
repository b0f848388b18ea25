// Calendar date, time of day and date-time values: packed layouts, defaults and field order.
// Plain values; no ownership, no locking.
#pragma once

#include <cstdint>

namespace qn {

#pragma pack(push, 1)

// 4 bytes: year (u16, little-endian), month 1..12, day 1..31.
struct date {
  uint16_t year = 2020;
  uint8_t month = 10;
  uint8_t day = 16;
};

// 7 bytes with no alignment gap: hour, minute, second, then nanoseconds (u32, little-endian).
struct time {
  uint8_t hour = 17;
  uint8_t minute = 34;
  uint8_t second = 36;
  uint32_t nanosecond = 0;
};

// 11 bytes: a date followed by a time. Unlike its parts it defaults to all zero bytes.
struct date_time {
  date date_part{0, 0, 0};
  time time_part{0, 0, 0, 0};
};

#pragma pack(pop)

static_assert(sizeof(date) == 4 && sizeof(time) == 7 && sizeof(date_time) == 11);

// Field-by-field order (year, month, day; hour, minute, second, nanosecond). Returns <0, 0, >0.
int compare(const date& a, const date& b);
int compare(const time& a, const time& b);
int compare(const date_time& a, const date_time& b);

inline bool operator==(const date& a, const date& b) { return compare(a, b) == 0; }
inline bool operator==(const time& a, const time& b) { return compare(a, b) == 0; }
inline bool operator==(const date_time& a, const date_time& b) { return compare(a, b) == 0; }

// Days in the month of a Gregorian year (February has 29 in leap years); 0 for month outside 1..12.
int days_in_month(int year, int month);

}  // namespace qn
