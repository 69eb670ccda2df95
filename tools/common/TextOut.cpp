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
