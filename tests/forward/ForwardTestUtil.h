// Helpers of the day-file sender and manager tests: a site of their own,
// day files, progress files and the accounts carried by requests.
#ifndef TESSEL_TESTS_FORWARD_FORWARDTESTUTIL_H
#define TESSEL_TESTS_FORWARD_FORWARDTESTUTIL_H

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "NetlogTestServer.h"
#include "TestSupport.h"
#include "forward/RVIDSender.h"

namespace forward_test {

// A temporary site with a virtualdb directory; the working directory points
// at it.
class Site {
 public:
  Site();
  const std::string& dir() const { return temp_.path(); }
  // The site as the service would be given it, reached through `env`.
  tessel::SiteContext Context(tessel::port::Env* env = tessel::port::Env::Default()) const;
  std::string DayFile(std::time_t day) const;  // virtualdb/<stamp>.RiaBase
  // Appends records of type 1001 whose accounts are the given names.
  void Append(std::time_t day, const std::vector<std::string>& accounts) const;
  void AppendRecord(std::time_t day, const VirtualIdRecord& record) const;

 private:
  testing_support::TempDir temp_;
  testing_support::ScopedCwd cwd_;
};

VirtualIdRecord Account(const std::string& name);

// Midnight of today, `days` dates away (through the calendar).
std::time_t Midnight(int days);

// The account (item type 1) of each request, in order.
std::vector<std::string> Accounts(const std::vector<Request>& requests);

struct Progress {
  std::int32_t day = 0;
  std::uint32_t offset = 0;
  bool present = false;
};
Progress ReadProgress(const std::string& path);
void WriteProgress(const std::string& path, std::int32_t day, std::uint32_t offset);
std::string ProgressPath(const std::string& host, int port);

// Quick pacing for tests that would otherwise wait seconds between steps.
tessel::RVIDSenderPacing QuickPacing();

}  // namespace forward_test

#endif
