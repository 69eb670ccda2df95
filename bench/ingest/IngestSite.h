// A temporary site served by the stock icebox with one module: the service
// or the bare ceiling. It counts the records the site's day files hold and
// reads the server's CPU time.
#ifndef TESSEL_BENCH_INGESTSITE_H
#define TESSEL_BENCH_INGESTSITE_H

#include <Ice/Ice.h>

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace ingest {

class IngestSite {
 public:
  // `module` is the IceBox module path without "lib" and ".so"; `service`
  // names the service, its adapter and the servant's identity.
  IngestSite(const std::string& module, const std::string& service);
  ~IngestSite();

  const std::string& dir() const { return site_.path(); }
  // Writes virtualdb/virtualdb.db holding `count` current keywords of
  // `seats` seats.
  void FillKeywordStore(long count, int seats = 500);
  // A line "key=value" added to icebox's configuration; before Start.
  void AddProperty(const std::string& key, const std::string& value);
  // Starts icebox and waits until the service answers `client`'s ping;
  // false, with the server's standard error in `why`, when it does not.
  bool Start(const Ice::CommunicatorPtr& client, std::string* why);
  // SIGTERM, then waits for icebox to end.
  void Stop();
  bool Running() { return icebox_ && icebox_->running(); }
  std::string ServerErrors() const;

  // "<service>:tcp -h 127.0.0.1 -p <port>"
  std::string Proxy() const;
  // Records in the day files (virtualdb/YYMMDD.RiaBase), whole records only.
  long StoredRecords() const;
  // User plus system CPU seconds the icebox process has used so far.
  double ServerCpuSeconds() const;
  // The icebox process's resident set now (VmRSS) and at its peak (VmHWM),
  // in bytes; 0 when unknown.
  long long RssBytes() const { return StatusBytes("VmRSS:"); }
  long long PeakRssBytes() const { return StatusBytes("VmHWM:"); }

 private:
  long long StatusBytes(const std::string& field) const;

  testing_support::TempDir site_;
  const std::string module_;
  const std::string service_;
  const int port_;
  std::vector<std::string> properties_;
  std::unique_ptr<testing_support::ChildProcess> icebox_;
};

}  // namespace ingest

#endif
