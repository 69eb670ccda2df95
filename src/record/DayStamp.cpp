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

}  // namespace tessel
