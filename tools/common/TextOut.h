// Text helpers of the operator tools: showing the service's GBK texts and
// times to a person.
#ifndef TESSEL_TOOLS_TEXTOUT_H
#define TESSEL_TOOLS_TEXTOUT_H

#include <cstdint>
#include <string>

namespace textout {

// GBK bytes as UTF-8; bytes that do not decode are shown as \xNN.
std::string GbkToUtf8(const std::string& gbk);

// "2026-12-07 21:15:00" in local time, or the number itself when it cannot
// be shown as a date.
std::string LocalTimeText(std::int64_t seconds);

}  // namespace textout

#endif
