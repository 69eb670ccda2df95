// A temporary site with the real icebox server running the built module, and
// an Ice client talking to it over loopback.
#ifndef TESSEL_TESTS_ICEBOXSITE_H
#define TESSEL_TESTS_ICEBOXSITE_H

#include <Ice/Ice.h>

#include <map>
#include <memory>
#include <string>

#include "TestSupport.h"
#include "VirtualAccount.h"

namespace testing_support {

class IceBoxSite {
 public:
  // Creates the site directory with siteenv.cfg holding `unitIdentity` (no
  // siteenv.cfg when it is empty). Nothing runs until start().
  explicit IceBoxSite(const std::string& unitIdentity = "4401020001");
  ~IceBoxSite();

  const std::string& dir() const { return site_.path(); }
  std::string file(const std::string& name) const { return site_ / name; }
  int port() const { return port_; }

  // Extra properties for the icebox configuration (service properties are
  // inherited by the service).
  void setProperty(const std::string& name, const std::string& value) { props_[name] = value; }

  // Starts icebox and waits until the service answers (or icebox ends);
  // true when the service answers.
  bool start();
  // SIGTERM, then waits; the exit status or -1 when it did not end in time.
  int stop();
  // SIGKILL: the server ends at once, wherever it was.
  void kill();
  bool running() { return process_ && process_->running(); }

  std::string serverStdout() const;
  std::string serverStderr() const;

  Audit::VirtualPersion::AccountInfoPrx proxy();
  Ice::CommunicatorPtr client() { return client_; }

 private:
  TempDir site_;
  int port_;
  std::map<std::string, std::string> props_;
  std::unique_ptr<ChildProcess> process_;
  Ice::CommunicatorPtr client_;
};

}  // namespace testing_support

#endif
