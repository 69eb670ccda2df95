#include "record/DayStamp.h"

#include "port/Port.h"

namespace tessel {

std::string DayStamp(std::time_t t) {
  std::tm local;
  if (!port::LocalTime(t, &local)) return std::string();
  char text[16];
  std::strftime(text, sizeof text, "%y%m%d", &local);
  return text;
}

std::time_t LocalMidnight(std::time_t t) {
  std::tm local;
  if (!port::LocalTime(t, &local)) return t;
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

std::time_t NextLocalMidnight(std::time_t t) {
  std::tm local;
  if (!port::LocalTime(t, &local)) return t + kSecondsPerDay;
  local.tm_mday += 1;
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

bool MidnightOfDayStamp(const std::string& stamp, std::time_t* midnight) {
  if (stamp.size() != 6) return false;
  for (char c : stamp)
    if (c < '0' || c > '9') return false;
  std::tm local = {};
  local.tm_year = 100 + std::stoi(stamp.substr(0, 2));
  local.tm_mon = std::stoi(stamp.substr(2, 2)) - 1;
  local.tm_mday = std::stoi(stamp.substr(4, 2));
  local.tm_isdst = -1;
  const int month = local.tm_mon, day = local.tm_mday;
  const std::time_t t = std::mktime(&local);
  // mktime carries 31 February over into March: such a stamp names no day.
  if (t == static_cast<std::time_t>(-1) || local.tm_mon != month || local.tm_mday != day)
    return false;
  *midnight = t;
  return true;
}

}  // namespace tessel
