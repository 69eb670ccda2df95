// The servant the service registers: AccountInfoI plus the record handler,
// which hands every accepted record to the site instance, and the on-line
// export. The instance owns the workers and their threads.
#ifndef TESSEL_ACCOUNT_ACCOUNTINFOWRITERI_H
#define TESSEL_ACCOUNT_ACCOUNTINFOWRITERI_H

#include <string>

#include "account/AccountInfoI.h"
#include "site/ServiceStatus.h"
#include "site/SiteInstance.h"

class AccountInfoWriterI : public AccountInfoI {
 public:
  // Serves `instance`, taking calls from the clients its settings allow.
  // Reads the unit identity, with which the instance is then started
  // (UnitIdentity()).
  AccountInfoWriterI(const Ice::CommunicatorPtr& communicator,
                     const tessel::SiteInstancePtr& instance);

  virtual tessel::port::Status GetAllOnLineVirtualId(Ice::Int& count, std::string& filePath,
                                                     const Ice::Current& current);
  virtual tessel::Receipt handleRecord(const Ice::ByteSeq& record);
  virtual tessel::Receipt handleRecord(const VirtualIdRecord& record);
  virtual tessel::Receipt processRecord(const void* data, int length);
  virtual void WhenSafe(const tessel::Receipt& receipt, Done done);
  virtual void RunAside(std::function<void()> job);

  // The unit identity as the constructor read it (before registration).
  const std::string& UnitIdentity() const { return unitIdentity; }
  // What the servant noted of its callers (any thread).
  tessel::CallerCounts Callers() const;

 private:
  const tessel::SiteInstancePtr instance;
};

typedef IceUtil::Handle<AccountInfoWriterI> AccountInfoWriterIPtr;

#endif
