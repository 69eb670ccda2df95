#include "port/Status.h"

#include <cerrno>
#include <cstring>

namespace tessel::port {

Status Status::Error(int error, const std::string& what) {
  Status status;
  status.error_ = error != 0 ? error : EIO;  // a failure is never success
  status.what_ = what;
  return status;
}

std::string Status::ToString() const {
  if (ok()) return "OK";
  char buffer[256];
  // The GNU strerror_r returns its text, which need not be in the buffer.
  const char* text = ::strerror_r(error_, buffer, sizeof buffer);
  return what_ + ": " + text;
}

}  // namespace tessel::port
