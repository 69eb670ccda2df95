// Days as the site's files name them: the six-character local date "%y%m%d"
// of day files, IP files and IA-file counters, and the local midnights that
// the upstream progress files count days by.
#ifndef TESSEL_RECORD_DAYSTAMP_H
#define TESSEL_RECORD_DAYSTAMP_H

#include <ctime>
#include <string>

namespace tessel {

inline constexpr std::time_t kSecondsPerDay = 86400;

// "%y%m%d" of the local date of t (261207 for 7 December 2026); empty when
// the time cannot be converted.
std::string DayStamp(std::time_t t);

// Local midnight of the date of t, and of the date after it (through the
// calendar, so a day with a daylight-saving change is not seen twice).
std::time_t LocalMidnight(std::time_t t);
std::time_t NextLocalMidnight(std::time_t t);

// The local midnight of the day a stamp names (its year taken in 2000 to
// 2099, the years of the service's files); false for a text that is not
// six digits of a real date.
bool MidnightOfDayStamp(const std::string& stamp, std::time_t* midnight);

}  // namespace tessel

#endif
