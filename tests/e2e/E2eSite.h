// An icebox site with an upstream net-log server on loopback, for following
// records from the interface to the files and upstream.
#ifndef TESSEL_TESTS_E2ESITE_H
#define TESSEL_TESTS_E2ESITE_H

#include <mutex>
#include <string>
#include <vector>

#include "IceBoxSite.h"
#include "SiteStatus.h"
#include "SinkServer.h"

namespace testing_support {

class UpstreamRecorder {
 public:
  netlog::SinkServer::Listener listener();
  std::vector<netlog::Request> requests();
  size_t count();

 private:
  std::mutex lock_;
  std::vector<netlog::Request> requests_;
};

// The day file's records of today, or none.
std::vector<VirtualIdRecord> TodaysRecords(const std::string& site);

// Writes netbarcfg.ini naming one upstream server on 127.0.0.1.
void WriteNetbarConfig(const std::string& site, int port);

// Fields of a request that must equal the conversion of the stored record.
std::string UpstreamView(const netlog::Request& request);
std::string ConvertedView(const VirtualIdRecord& stored);

// The service's status facet on an admin endpoint at `adminPort` (set
// before the site starts), read as an operator reads it.
void ShowStatusFacet(IceBoxSite& site, int adminPort);
Tessel::SiteState ReadStatusFacet(IceBoxSite& site, int adminPort);

}  // namespace testing_support

#endif
