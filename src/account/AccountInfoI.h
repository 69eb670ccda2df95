// The AccountInfo servant: keeps the identities on line at each client IP and
// funnels every record it accepts, or builds, through write() to the record
// handler that a derived servant supplies.
//
// The operations are dispatched asynchronously (the *_async entry points):
// each does its work at once, under the servant's lock, and gets back a
// receipt of what its records met at the intake; the call is answered once
// those records are safe (WhenSafe), and fails with the reason when any was
// refused. So a caller is never answered as if a record were kept that was
// not, and no server thread waits for the disk.
//
// The entry points are also where a caller is known by its connection: a
// call from an address outside the allowed clients is refused there, and a
// malformed record (which the operations ignore, as before) is noted there
// (ClientNotes).
#ifndef TESSEL_ACCOUNT_ACCOUNTINFOI_H
#define TESSEL_ACCOUNT_ACCOUNTINFOI_H

#include <IceUtil/RecMutex.h>

#include <functional>
#include <map>
#include <set>
#include <string>

#include "VirtualAccount.h"
#include "account/ClientNotes.h"
#include "account/RefusalLog.h"
#include "common/AddressList.h"
#include "lists/Intake.h"
#include "record/CompactRecord.h"
#include "record/VirtualIdRecord.h"

class AccountInfoI : public Audit::VirtualPersion::AccountInfo {
 public:
  typedef std::function<void(const tessel::port::Status&)> Done;

  // `env` gives the clock by which ClientNotes tells of callers.
  explicit AccountInfoI(const Ice::CommunicatorPtr& communicator,
                        tessel::port::Env* env);

  // The dispatch of each operation: its work below, then its answer.
  virtual void write_async(const Audit::VirtualPersion::AMD_AccountInfo_writePtr& callback,
                           const Ice::ByteSeq& record, const Ice::Current& current);
  virtual void registAccount_async(
      const Audit::VirtualPersion::AMD_AccountInfo_registAccountPtr& callback,
      const Ice::ByteSeq& record, const Ice::Current& current);
  virtual void writeAccount_async(
      const Audit::VirtualPersion::AMD_AccountInfo_writeAccountPtr& callback,
      const Ice::ByteSeq& record, const Ice::Current& current);
  virtual void RealNameClientOff_async(
      const Audit::VirtualPersion::AMD_AccountInfo_RealNameClientOffPtr& callback,
      Ice::Int clientIp, const Ice::ByteSeq& record, Ice::Int seatLogonTime, Ice::Int offTime,
      const Ice::Current& current);
  virtual void AccountOff_async(const Audit::VirtualPersion::AMD_AccountInfo_AccountOffPtr& callback,
                                Ice::Int clientIp, Ice::Int offTime, Ice::Int offCode,
                                const Ice::Current& current);
  virtual void NotifyToUpChatContent_async(
      const Audit::VirtualPersion::AMD_AccountInfo_NotifyToUpChatContentPtr& callback,
      Ice::Int value1, Ice::Int value2, Ice::Int value3, const Ice::Current& current);
  virtual void GetAllOnLineVirtualId_async(
      const Audit::VirtualPersion::AMD_AccountInfo_GetAllOnLineVirtualIdPtr& callback,
      const Ice::Current& current);

  // The operations' work. Each gives the receipt of the records it handed
  // to the record handler: the first refusal, or the journal sequence
  // number of the last record (none when nothing was handed over). An
  // operation stops at the first record refused, so that what it has not
  // handed over stays as it was for the caller's next attempt.
  virtual tessel::Receipt write(const Ice::ByteSeq& record, const Ice::Current& current);
  // A record the servant built, as write() passes a caller's own, without
  // a trip through bytes.
  tessel::Receipt write(const VirtualIdRecord& record);
  virtual tessel::Receipt registAccount(const Ice::ByteSeq& record, const Ice::Current& current);
  virtual tessel::Receipt writeAccount(const Ice::ByteSeq& record, const Ice::Current& current);
  virtual tessel::Receipt RealNameClientOff(Ice::Int clientIp, const Ice::ByteSeq& record,
                                            Ice::Int seatLogonTime, Ice::Int offTime,
                                            const Ice::Current& current);
  virtual tessel::Receipt AccountOff(Ice::Int clientIp, Ice::Int offTime, Ice::Int offCode,
                                     const Ice::Current& current);
  virtual void NotifyToUpChatContent(Ice::Int value1, Ice::Int value2, Ice::Int value3,
                                     const Ice::Current& current);
  // A refusal, and the results untouched, when no export can be made.
  virtual tessel::port::Status GetAllOnLineVirtualId(Ice::Int& count, std::string& filePath,
                                                     const Ice::Current& current);

  // Refreshes unitIdentity from the site environment. False when the query
  // fails; the first failure in the process is logged as an error.
  virtual bool loadUnitIdentity();

  // Receives every record that passes write(), with the servant's lock held:
  // a caller's bytes as they came (a record of any other length is
  // dropped), or a record the servant built. The bytes go on as a record
  // here.
  virtual tessel::Receipt handleRecord(const Ice::ByteSeq& record);
  virtual tessel::Receipt handleRecord(const VirtualIdRecord& record);

  // Calls `done` once the records of the receipt are safe (at once here; the
  // writer servant asks the site instance).
  virtual void WhenSafe(const tessel::Receipt& receipt, Done done);
  // Runs a slow call's work and answer (at once here; the writer servant
  // hands it to a thread of the site instance, so that the thread that
  // dispatches the agents' calls goes on meanwhile).
  virtual void RunAside(std::function<void()> job) { job(); }

  // Peer IP of the calling connection, or its local address when it has no
  // remote one: dotted IPv4 text whatever the listening endpoint (an
  // IPv4-mapped IPv6 address gives its IPv4 part), the usual text for an
  // IPv6 peer; empty without a connection.
  static std::string clientAddressOf(const Ice::Current& current);

  // Calls refused and malformed records, by client (any thread).
  const tessel::ClientNotes& Notes() const { return clientNotes; }
  // Calls refused, told once a minute per reason (any thread).
  const tessel::RefusalLog& Refusals() const { return refusalLog; }

  // Takes one record that was stored (or accepted) before a restart back
  // into the on-line table, in the order the records came: an IM log-on as
  // registAccount writes it (IsRegistration) is registered, an IM log-off
  // takes its account out. The files keep no caller's address: the account
  // is keyed by the seat's own address, from the record's IP key
  // (SeatAddressOf). Called at start, before any call is answered.
  void RestoreOnline(const VirtualIdRecord& record);

 protected:
  std::string unitIdentity;
  Ice::CommunicatorPtr communicator;
  // IP text -> account keys registered from it; an entry is never removed.
  std::map<std::string, std::set<std::string> > onlineAccounts;
  // Account key -> the record it was registered with, until it goes off line.
  std::map<std::string, tessel::CompactRecord> registeredRecords;
  // Ice 3.7 has no readers-writer recursive mutex; every operation here takes
  // the lock exclusively and re-enters it when it calls write() on itself,
  // so a recursive mutex gives the same behaviour.
  IceUtil::RecMutex mutex;
  // The clients whose calls are taken; empty: every client. Set before the
  // servant is registered, read only afterwards.
  tessel::AddressList allowedClients;

 private:
  tessel::ClientNotes clientNotes;
  tessel::RefusalLog refusalLog;

  // The failure a caller is told, noted in the refusal log first.
  // `record`: the call carried a record.
  Ice::UnknownException Refuse(const tessel::port::Status& status, bool record);

  // The unit-identity query has failed and the failure was logged.
  bool identityFailureLogged = false;

  // prefix + client IP + "_" + infoType + account (byte 313 set to 0 first).
  std::string accountKey(VirtualIdRecord& record, const std::string& clientIp) const;

  // Answers the call once its receipt's records are safe, or with the
  // reason it failed.
  template <typename Callback>
  void Answer(const Callback& callback, const tessel::Receipt& receipt);

  // False, with the call failed, when the caller's address is not allowed.
  // A call without a connection (collocated) is always taken.
  template <typename Callback>
  bool Admitted(const Callback& callback, const char* operation, const Ice::Current& current);

  // Notes a record the operation ignores: the wrong length, or a prefix
  // without its IP key.
  void NoteMalformed(const char* operation, const Ice::ByteSeq& record,
                     const Ice::Current& current);
  // Notes a seat's log-off whose prefix, as RealNameClientOff made it, lost
  // its IP key to the 50-byte cut (the lists then ignore it).
  void NoteSeatPrefix(Ice::Int clientIp, Ice::Int seatLogonTime, const Ice::Current& current);
};

namespace tessel {

// The properties of the servants, under the service's (and its adapter's)
// name.
inline constexpr char kAllowedClientsProperty[] = "tesselWriteService.AllowedClients";
inline constexpr char kExportKeepSecondsProperty[] = "tesselWriteService.OnlineExportKeepSeconds";
inline constexpr char kExportMaxFilesProperty[] = "tesselWriteService.OnlineExportMaxFiles";

// An IM log-on as registAccount passes it on (end time = begin time,
// status 0). An account sent on line through write() carries its own end
// time, mostly 0, and was never in the on-line table.
bool IsRegistration(const VirtualIdRecord& record);

// The address of a seat as AccountOff and RealNameClientOff name it, from
// an IP key: a key in decimal is the interface's number (first octet in the
// low byte) and gives "a.b.c.d"; any other key is taken as it stands.
std::string SeatAddressOf(const std::string& ipKey);

// What a caller is told when its records were not kept: an Ice exception
// whose text says why (agents show it, and send again).
Ice::UnknownException Refusal(const port::Status& status);

// An address as the service keys seats by: "::ffff:a.b.c.d" (an IPv4 peer
// of a dual-stack endpoint) gives "a.b.c.d"; anything else is kept.
std::string PlainHostAddress(const std::string& address);

}  // namespace tessel

#endif
