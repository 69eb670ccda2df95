// The admin facet IceBox.Service.<service>.Status: how the service is doing,
// read live by an operator (riadump live) through the IceBox server's admin
// object.
#ifndef TESSEL_SERVICE_STATUSFACET_H
#define TESSEL_SERVICE_STATUSFACET_H

#include <Ice/Ice.h>

#include <ctime>
#include <mutex>
#include <string>

#include "SiteStatus.h"
#include "account/AccountInfoWriterI.h"
#include "port/Env.h"
#include "site/ServiceStatus.h"
#include "site/SiteInstance.h"

namespace tessel {

// The facet's name for the service loaded as `service`, among the IceBox
// server's admin facets.
std::string StatusFacetName(const std::string& service);

// The status as the facet answers it, the service's clock reading `now`.
Tessel::SiteState ToSiteState(const ServiceStatus& status, std::time_t now);

class StatusFacet : public Tessel::SiteStatus {
 public:
  // The workers' status from `instance`, with what `servant` noted of its
  // callers. Times are read from `env`, as the servant's own are.
  StatusFacet(const SiteInstancePtr& instance, const AccountInfoWriterIPtr& servant,
              port::Env* env);

  virtual Tessel::SiteState read(const Ice::Current& current);

  // Lets the instance and the servant go once a read under way has ended: a
  // facet still held by a late call then answers that the service is gone,
  // and never keeps the instance (and its threads) alive past the service's
  // stop.
  void Detach();

 private:
  // Between reads and Detach only; no call of an agent takes it.
  std::mutex lock_;
  SiteInstancePtr instance_;
  AccountInfoWriterIPtr servant_;
  port::Env* const env_;
};

typedef IceUtil::Handle<StatusFacet> StatusFacetPtr;

}  // namespace tessel

#endif
