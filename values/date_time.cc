#include "values/date_time.h"

namespace qn {
namespace {

template <class T>
int order(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

int compare(const date& a, const date& b) {
  if (int c = order(a.year, b.year)) return c;
  if (int c = order(a.month, b.month)) return c;
  return order(a.day, b.day);
}

int compare(const time& a, const time& b) {
  if (int c = order(a.hour, b.hour)) return c;
  if (int c = order(a.minute, b.minute)) return c;
  if (int c = order(a.second, b.second)) return c;
  return order<uint32_t>(a.nanosecond, b.nanosecond);
}

int compare(const date_time& a, const date_time& b) {
  if (int c = compare(a.date_part, b.date_part)) return c;
  return compare(a.time_part, b.time_part);
}

int days_in_month(int year, int month) {
  static constexpr int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : lengths[month - 1];
}

}  // namespace qn
