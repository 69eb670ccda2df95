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

Status Status::Refused(const std::string& why) {
  Status status;
  status.error_ = EAGAIN;
  status.refused_ = true;
  status.what_ = why;
  return status;
}

std::string Status::ToString() const {
  if (ok()) return "OK";
  if (refused_) return what_;
  char buffer[256];
  // The GNU strerror_r returns its text, which need not be in the buffer.
  const char* text = ::strerror_r(error_, buffer, sizeof buffer);
  return what_ + ": " + text;
}

}  // namespace tessel::port
