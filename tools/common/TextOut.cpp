#include "TextOut.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace textout {

std::string GbkToUtf8(const std::string& gbk) {
  iconv_t cd = ::iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return gbk;
  std::string out;
  std::size_t i = 0;
  while (i < gbk.size()) {
    char* in = const_cast<char*>(gbk.data() + i);
    std::size_t inLeft = gbk.size() - i;
    char buffer[1024];
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    std::size_t r = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    i = gbk.size() - inLeft;
    if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(gbk[i]));
      out += escaped;
      ++i;
      ::iconv(cd, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
    }
  }
  ::iconv_close(cd);
  return out;
}

namespace {

void Escape(unsigned char c, std::string* out) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
  *out += escaped;
}

// The length of the UTF-8 sequence at `at`, 0 when it is not a valid one
// (cut short, overlong, a surrogate, beyond U+10FFFF).
std::size_t SequenceLength(const std::string& text, std::size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the allowed second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  else return 0;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[at + i]);
    if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

}  // namespace

std::string Printable(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    const std::size_t length = SequenceLength(text, at);
    const bool control = length == 1 ? c < 0x20 || c == 0x7F
                                     : length == 2 && c == 0xC2 &&
                                           static_cast<unsigned char>(text[at + 1]) < 0xA0;
    if (length == 0 || control) {
      for (std::size_t i = 0; i < (length == 0 ? 1 : length); ++i)
        Escape(static_cast<unsigned char>(text[at + i]), &out);
      at += length == 0 ? 1 : length;
      continue;
    }
    out.append(text, at, length);
    at += length;
  }
  return out;
}

std::string ClientText(const std::string& gbk) { return Printable(GbkToUtf8(gbk)); }

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string LocalTimeText(std::int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local;
  char text[32];
  if (seconds <= 0 || ::localtime_r(&t, &local) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0)
    return std::to_string(seconds);
  return text;
}

}  // namespace textout
