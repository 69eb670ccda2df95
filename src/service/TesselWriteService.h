// The IceBox service: prepares the site environment, creates the adapter
// named after the service, makes the site instance (the workers) and
// registers the writer servant that feeds it.
#ifndef TESSEL_SERVICE_TESSELWRITESERVICE_H
#define TESSEL_SERVICE_TESSELWRITESERVICE_H

#include <IceBox/IceBox.h>

#include "account/AccountInfoWriterI.h"
#include "service/StatusFacet.h"
#include "site/SiteInstance.h"
#include "service/SystemdWatchdog.h"

class tesselWriteService : public IceBox::Service {
 public:
  // `server`: the IceBox server's communicator, whose admin object serves
  // the status facet (none when empty).
  explicit tesselWriteService(const Ice::CommunicatorPtr& server = 0);

  virtual void start(const std::string& name, const Ice::CommunicatorPtr& communicator,
                     const Ice::StringSeq& args);
  virtual void stop();

 private:
  Ice::ObjectAdapterPtr adapter;
  bool siteEnvReady;
  // While started: the workers, stopped by stop whoever else still holds
  // them, and the servant that feeds them.
  tessel::SiteInstancePtr instance;
  AccountInfoWriterIPtr servant;
  Ice::CommunicatorPtr server;
  tessel::StatusFacetPtr statusFacet;  // while started
  std::string statusFacetName;
  tessel::SystemdWatchdogPtr watchdog;  // while started, under a unit's watchdog
  // The process's logger before start, given back at stop.
  Ice::LoggerPtr hostLogger;
  std::string startedSite;  // its name and directory, for the start's lines
  void RestoreHostLogger();
};

namespace tessel {

// The failure of start() when the site environment cannot be initialised.
// Ice 3.7's IceUtil::Exception is abstract; this one carries the message
// where the service has always carried it (as the exception's file name)
// and prints the reason (the file and the system's words) followed by the
// message in UTF-8, so the IceBox server's report reads as text anywhere.
class SiteEnvInitException : public IceUtil::ExceptionHelper<SiteEnvInitException> {
 public:
  // `message` must outlive the exception (a text of the service's own).
  SiteEnvInitException(const char* message, const std::string& reason);
  virtual ~SiteEnvInitException() throw();
  virtual std::string ice_id() const;
  virtual void ice_print(std::ostream& out) const;
  virtual SiteEnvInitException* ice_clone() const;

 private:
  std::string reason_;
};

// Any other failure of start(): a setting that cannot be used, a servant
// that cannot set itself up. Its text names what and why.
class StartFailure : public IceUtil::ExceptionHelper<StartFailure> {
 public:
  explicit StartFailure(const std::string& reason);
  virtual ~StartFailure() throw();
  virtual std::string ice_id() const;
  virtual void ice_print(std::ostream& out) const;
  virtual StartFailure* ice_clone() const;

 private:
  std::string reason_;
};

}  // namespace tessel

#endif
