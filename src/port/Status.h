// The result of an operation on the system: success, or the error number the
// system gave and what was being done, so that a failure can be told to an
// operator in one line ("append /site/virtualdb/261207.RiaBase: No space
// left on device").
#ifndef TESSEL_PORT_STATUS_H
#define TESSEL_PORT_STATUS_H

#include <cerrno>
#include <string>

namespace tessel::port {

class Status {
 public:
  Status() = default;  // success
  static Status OK() { return Status(); }
  // A failure with the system's error number; `what` names the operation
  // and its file ("open /x/y").
  static Status Error(int error, const std::string& what);
  // A refusal that is no error of the system (a bound reached, a stop under
  // way): ToString gives `why` alone.
  static Status Refused(const std::string& why);

  bool ok() const { return error_ == 0; }
  // The system's error number; 0 on success.
  int error() const { return error_; }
  // The file (or a directory on its path) does not exist.
  bool IsNotFound() const { return error_ == ENOENT; }
  bool IsRefused() const { return refused_; }
  // "OK", or "<what>: <the system's text of the error>".
  std::string ToString() const;

 private:
  int error_ = 0;
  bool refused_ = false;
  std::string what_;
};

}  // namespace tessel::port

#endif
