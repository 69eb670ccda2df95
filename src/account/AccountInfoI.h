// The AccountInfo servant: keeps the identities on line at each client IP and
// funnels every record it accepts, or builds, through write() to the record
// handler that a derived servant supplies.
#ifndef TESSEL_ACCOUNT_ACCOUNTINFOI_H
#define TESSEL_ACCOUNT_ACCOUNTINFOI_H

#include <IceUtil/RecMutex.h>

#include <map>
#include <set>
#include <string>

#include "VirtualAccount.h"
#include "record/VirtualIdRecord.h"

class AccountInfoI : public Audit::VirtualPersion::AccountInfo {
 public:
  explicit AccountInfoI(const Ice::CommunicatorPtr& communicator);

  virtual void write(const Ice::ByteSeq& record, const Ice::Current& current);
  virtual void registAccount(const Ice::ByteSeq& record, const Ice::Current& current);
  virtual void writeAccount(const Ice::ByteSeq& record, const Ice::Current& current);
  virtual void RealNameClientOff(Ice::Int clientIp, const Ice::ByteSeq& record,
                                 Ice::Int seatLogonTime, Ice::Int offTime,
                                 const Ice::Current& current);
  virtual void AccountOff(Ice::Int clientIp, Ice::Int offTime, Ice::Int offCode,
                          const Ice::Current& current);
  virtual void NotifyToUpChatContent(Ice::Int value1, Ice::Int value2, Ice::Int value3,
                                     const Ice::Current& current);
  virtual void GetAllOnLineVirtualId(Ice::Int& count, std::string& filePath,
                                     const Ice::Current& current);

  // Refreshes unitIdentity from the site environment. False when the query
  // fails; the first failure in the process is logged as an error.
  virtual bool loadUnitIdentity();

  // Receives every record that passes write(), with the servant's lock held.
  virtual void handleRecord(const Ice::ByteSeq& record);

  // Peer IP of the calling connection, or its local address when it has no
  // remote one: dotted IPv4 text whatever the listening endpoint (an
  // IPv4-mapped IPv6 address gives its IPv4 part), the usual text for an
  // IPv6 peer; empty without a connection.
  static std::string clientAddressOf(const Ice::Current& current);

 protected:
  std::string unitIdentity;
  Ice::CommunicatorPtr communicator;
  // IP text -> account keys registered from it; an entry is never removed.
  std::map<std::string, std::set<std::string> > onlineAccounts;
  // Account key -> the record it was registered with, until it goes off line.
  std::map<std::string, VirtualIdRecord> registeredRecords;
  // Ice 3.7 has no readers-writer recursive mutex; every operation here takes
  // the lock exclusively and re-enters it when it calls write() on itself,
  // so a recursive mutex gives the same behaviour.
  IceUtil::RecMutex mutex;

 private:
  // The unit-identity query has failed and the failure was logged.
  bool identityFailureLogged = false;

  // prefix + client IP + "_" + infoType + account (byte 313 set to 0 first).
  std::string accountKey(VirtualIdRecord& record, const std::string& clientIp) const;
};

namespace tessel {

// An address as the service keys seats by: "::ffff:a.b.c.d" (an IPv4 peer
// of a dual-stack endpoint) gives "a.b.c.d"; anything else is kept.
std::string PlainHostAddress(const std::string& address);

}  // namespace tessel

#endif
