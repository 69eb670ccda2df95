// Text helpers of the operator tools: showing the service's GBK texts and
// times to a person.
#ifndef TESSEL_TOOLS_TEXTOUT_H
#define TESSEL_TOOLS_TEXTOUT_H

#include <cstdint>
#include <string>

namespace textout {

// GBK bytes as UTF-8; bytes that do not decode are shown as \xNN. Control
// characters pass as they are: for a format that escapes them itself (JSON).
std::string GbkToUtf8(const std::string& gbk);

// Text as it may be put before a person: valid UTF-8 is kept, but control
// characters (C0, DEL and the C1 range, which terminals obey as commands)
// and bytes that are not UTF-8 are shown as \xNN, byte by byte. Every text
// from outside that a tool prints (a path, a server's answer) goes through
// here.
std::string Printable(const std::string& text);

// A client's text (GBK, as the records hold it) as it may be shown: UTF-8,
// with control bytes and bytes that are not GBK as \xNN.
std::string ClientText(const std::string& gbk);

// A JSON string literal of UTF-8 text: quotes, backslashes and control
// characters escaped.
std::string JsonString(const std::string& utf8);

// "2026-12-07 21:15:00" in local time, or the number itself when it cannot
// be shown as a date.
std::string LocalTimeText(std::int64_t seconds);

}  // namespace textout

#endif
