#include "account/AccountInfoI.h"

#include <Ice/Ice.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "SiteEnv.h"
#include "common/Console.h"
#include "common/GbkTexts.h"
#include "record/VirtualIdRecord.h"

namespace gbk = tessel::gbk;
namespace rec = tessel::rec;

namespace {

// Descriptions longer than this are not from a plain TCP peer.
const std::string::size_type kMaxConnectionText = 260;

// registAccount and writeAccount answer only whole records from a plain
// peer; the connection is needed (a collocated call has none and fails).
bool AcceptsAccountCall(const Ice::ByteSeq& record, const Ice::Current& current) {
  return record.size() == rec::kSize && current.con->toString().size() <= kMaxConnectionText;
}

}  // namespace

namespace tessel {

Ice::UnknownException Refusal(const port::Status& status) {
  return Ice::UnknownException(__FILE__, __LINE__, "tesselWriteService: " + status.ToString());
}

std::string PlainHostAddress(const std::string& address) {
  static const char kMappedPrefix[] = "::ffff:";
  const std::size_t prefixLength = sizeof kMappedPrefix - 1;
  if (address.size() > prefixLength && address.compare(0, prefixLength, kMappedPrefix) == 0 &&
      address.find(':', prefixLength) == std::string::npos &&
      address.find('.', prefixLength) != std::string::npos)
    return address.substr(prefixLength);
  return address;
}

namespace {

// "a.b.c.d" of the interface's address number, first octet in the low byte.
std::string DottedAddress(std::uint32_t ip) {
  char text[20];
  std::memset(text, 0, sizeof text);
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(ip & 0xFF),
                static_cast<int>((ip >> 8) & 0xFF), static_cast<int>((ip >> 16) & 0xFF),
                static_cast<int>((ip >> 24) & 0xFF));
  return text;
}

}  // namespace

bool IsRegistration(const VirtualIdRecord& record) {
  return NetLogKindOf(record) == IM_LOGON && record.EndTime() == record.BeginTime();
}

std::string SeatAddressOf(const std::string& ipKey) {
  if (ipKey.empty() || ipKey.size() > 10 ||
      ipKey.find_first_not_of("0123456789") != std::string::npos)
    return ipKey;
  const unsigned long long value = std::stoull(ipKey);
  if (value > 0xFFFFFFFFull) return ipKey;
  return DottedAddress(static_cast<std::uint32_t>(value));
}

}  // namespace tessel

AccountInfoI::AccountInfoI(const Ice::CommunicatorPtr& communicator, tessel::port::Env* env)
    : communicator(communicator), clientNotes(env), refusalLog(env) {}

Ice::UnknownException AccountInfoI::Refuse(const tessel::port::Status& status, bool record) {
  refusalLog.Note(status.ToString(), record, true);
  return tessel::Refusal(status);
}

std::string AccountInfoI::clientAddressOf(const Ice::Current& current) {
  if (!current.con) return std::string();
  // Transports layered over TCP (SSL, WebSocket) carry the IP addresses in
  // the connection info underneath.
  for (Ice::ConnectionInfoPtr info = current.con->getInfo(); info; info = info->underlying) {
    Ice::IPConnectionInfoPtr ip = Ice::IPConnectionInfoPtr::dynamicCast(info);
    if (ip) return tessel::PlainHostAddress(ip->remoteAddress.empty() ? ip->localAddress
                                                                      : ip->remoteAddress);
  }
  return std::string();
}

std::string AccountInfoI::accountKey(VirtualIdRecord& record, const std::string& clientIp) const {
  record.bytes[rec::kAccountLastByte] = 0;
  // The prefix is read up to its NUL but never past its own 50 bytes.
  return record.Prefix() + clientIp + "_" + std::to_string(record.InfoType()) +
         record.Text(rec::kAccount, rec::kAccountWidth);
}

bool AccountInfoI::loadUnitIdentity() {
  char buffer[256];
  std::memset(buffer, 0, sizeof buffer);
  int length = sizeof buffer;
  if (SiteEnv_QueryValue("Audit.Unit.Identity", buffer, &length) == 0) {
    buffer[sizeof buffer - 1] = '\0';
    unitIdentity = buffer;
    return true;
  }
  if (!identityFailureLogged) Ice::getProcessLogger()->error(gbk::kUnitIdentityQueryFailed);
  identityFailureLogged = true;
  return false;
}

tessel::Receipt AccountInfoI::handleRecord(const Ice::ByteSeq& record) {
  if (record.size() != rec::kSize) return tessel::Receipt();
  return handleRecord(VirtualIdRecord::FromBytes(record.data()));
}

tessel::Receipt AccountInfoI::handleRecord(const VirtualIdRecord&) { return tessel::Receipt(); }

void AccountInfoI::WhenSafe(const tessel::Receipt&, Done done) { done(tessel::port::Status::OK()); }

template <typename Callback>
void AccountInfoI::Answer(const Callback& callback, const tessel::Receipt& receipt) {
  if (!receipt.status.ok()) {
    callback->ice_exception(Refuse(receipt.status, true));
    return;
  }
  // The servant outlives the intake's answers: its threads are joined
  // before it goes.
  WhenSafe(receipt, [this, callback](const tessel::port::Status& status) {
    if (status.ok())
      callback->ice_response();
    else
      callback->ice_exception(Refuse(status, true));
  });
}

template <typename Callback>
bool AccountInfoI::Admitted(const Callback& callback, const char* operation,
                            const Ice::Current& current) {
  if (!current.con || allowedClients.empty()) return true;
  const std::string address = clientAddressOf(current);
  if (allowedClients.Contains(address)) return true;
  clientNotes.Note(address, tessel::ClientNotes::kNotAllowed,
                   std::string(operation) + ": the address is not in " +
                       tessel::kAllowedClientsProperty);
  const tessel::port::Status refused = tessel::port::Status::Refused(
      "calls from " + address + " are not taken: the address is not among the allowed clients");
  // Told by the client notes, once an hour per address.
  refusalLog.Note(refused.ToString(), false, false);
  callback->ice_exception(tessel::Refusal(refused));
  return false;
}

void AccountInfoI::NoteMalformed(const char* operation, const Ice::ByteSeq& record,
                                 const Ice::Current& current) {
  if (record.size() != rec::kSize) {
    clientNotes.Note(clientAddressOf(current), tessel::ClientNotes::kWrongLength,
                     std::string(operation) + ": a record of " + std::to_string(record.size()) +
                         " bytes, not " + std::to_string(rec::kSize));
    return;
  }
  const std::string prefix = VirtualIdRecord::FromBytes(record.data()).Prefix();
  std::string ipKey;
  if (tessel::GetIpKey(prefix, &ipKey)) return;
  clientNotes.Note(clientAddressOf(current), tessel::ClientNotes::kNoIpKey,
                   std::string(operation) + ": the prefix \"" + prefix +
                       "\" has no IP key between two underscores within its " +
                       std::to_string(rec::kPrefixWidth) + " bytes");
}

void AccountInfoI::NoteSeatPrefix(Ice::Int clientIp, Ice::Int seatLogonTime,
                                  const Ice::Current& current) {
  std::string unit;
  {
    IceUtil::RecMutex::Lock lock(mutex);
    unit = unitIdentity;
  }
  const std::string prefix = tessel::MakePrefix(unit, clientIp, seatLogonTime);
  std::string ipKey;
  if (tessel::GetIpKey(prefix.substr(0, rec::kPrefixWidth), &ipKey)) return;
  clientNotes.Note(clientAddressOf(current), tessel::ClientNotes::kSeatPrefixCut,
                   "RealNameClientOff: the seat's prefix \"" + tessel::Printable(prefix) + "\" is cut at " +
                       std::to_string(rec::kPrefixWidth) +
                       " bytes before its IP key ends: the unit identity is too long for it");
}

void AccountInfoI::write_async(const Audit::VirtualPersion::AMD_AccountInfo_writePtr& callback,
                               const Ice::ByteSeq& record, const Ice::Current& current) {
  if (!Admitted(callback, "write", current)) return;
  NoteMalformed("write", record, current);
  Answer(callback, write(record, current));
}

void AccountInfoI::registAccount_async(
    const Audit::VirtualPersion::AMD_AccountInfo_registAccountPtr& callback,
    const Ice::ByteSeq& record, const Ice::Current& current) {
  if (!Admitted(callback, "registAccount", current)) return;
  NoteMalformed("registAccount", record, current);
  Answer(callback, registAccount(record, current));
}

void AccountInfoI::writeAccount_async(
    const Audit::VirtualPersion::AMD_AccountInfo_writeAccountPtr& callback,
    const Ice::ByteSeq& record, const Ice::Current& current) {
  if (!Admitted(callback, "writeAccount", current)) return;
  NoteMalformed("writeAccount", record, current);
  Answer(callback, writeAccount(record, current));
}

void AccountInfoI::RealNameClientOff_async(
    const Audit::VirtualPersion::AMD_AccountInfo_RealNameClientOffPtr& callback,
    Ice::Int clientIp, const Ice::ByteSeq& record, Ice::Int seatLogonTime, Ice::Int offTime,
    const Ice::Current& current) {
  if (!Admitted(callback, "RealNameClientOff", current)) return;
  const tessel::Receipt receipt =
      RealNameClientOff(clientIp, record, seatLogonTime, offTime, current);
  // Only the record's length is the caller's: its prefix is made here.
  if (record.size() != rec::kSize)
    NoteMalformed("RealNameClientOff", record, current);
  else if (receipt.status.ok())
    NoteSeatPrefix(clientIp, seatLogonTime, current);
  Answer(callback, receipt);
}

void AccountInfoI::AccountOff_async(
    const Audit::VirtualPersion::AMD_AccountInfo_AccountOffPtr& callback, Ice::Int clientIp,
    Ice::Int offTime, Ice::Int offCode, const Ice::Current& current) {
  if (!Admitted(callback, "AccountOff", current)) return;
  Answer(callback, AccountOff(clientIp, offTime, offCode, current));
}

void AccountInfoI::NotifyToUpChatContent_async(
    const Audit::VirtualPersion::AMD_AccountInfo_NotifyToUpChatContentPtr& callback,
    Ice::Int value1, Ice::Int value2, Ice::Int value3, const Ice::Current& current) {
  if (!Admitted(callback, "NotifyToUpChatContent", current)) return;
  NotifyToUpChatContent(value1, value2, value3, current);
  callback->ice_response();
}

void AccountInfoI::GetAllOnLineVirtualId_async(
    const Audit::VirtualPersion::AMD_AccountInfo_GetAllOnLineVirtualIdPtr& callback,
    const Ice::Current& current) {
  if (!Admitted(callback, "GetAllOnLineVirtualId", current)) return;
  // An export may take seconds (every identity on line, written to a
  // file): the agents' writes do not wait for it.
  RunAside([this, callback, current]() {
    Ice::Int count = 0;
    std::string filePath;
    const tessel::port::Status status = GetAllOnLineVirtualId(count, filePath, current);
    if (status.ok())
      callback->ice_response(count, filePath);
    else
      callback->ice_exception(Refuse(status, false));
  });
}

namespace {

// The character-type locale is the environment's before a record is
// handled. Set once: the locale is the whole process's, setlocale is not
// safe while other threads use it, and looking the locale up again costs
// more than the rest of the call.
void UseEnvironmentCharacterTypes() {
  static std::once_flag once;
  std::call_once(once, [] { std::setlocale(LC_CTYPE, ""); });
}

}  // namespace

tessel::Receipt AccountInfoI::write(const Ice::ByteSeq& record, const Ice::Current&) {
  if (record.size() != rec::kSize) return tessel::Receipt();
  UseEnvironmentCharacterTypes();
  IceUtil::RecMutex::Lock lock(mutex);
  return handleRecord(record);
}

tessel::Receipt AccountInfoI::write(const VirtualIdRecord& record) {
  UseEnvironmentCharacterTypes();
  IceUtil::RecMutex::Lock lock(mutex);
  return handleRecord(record);
}

tessel::Receipt AccountInfoI::registAccount(const Ice::ByteSeq& incoming,
                                            const Ice::Current& current) {
  if (!AcceptsAccountCall(incoming, current)) return tessel::Receipt();
  IceUtil::RecMutex::Lock lock(mutex);
  VirtualIdRecord record = VirtualIdRecord::FromBytes(incoming.data());
  const std::string ip = clientAddressOf(current);
  const std::string key = accountKey(record, ip);
  registeredRecords.emplace(key, record);  // an existing entry stays
  onlineAccounts[ip].insert(key);
  record.SetInt(rec::kEndTime, record.BeginTime());
  record.SetInt(rec::kImStatus, 0);
  // Refused, the registration stays: the caller's next attempt finds it.
  return write(record);
}

tessel::Receipt AccountInfoI::writeAccount(const Ice::ByteSeq& incoming,
                                           const Ice::Current& current) {
  if (!AcceptsAccountCall(incoming, current)) return tessel::Receipt();
  IceUtil::RecMutex::Lock lock(mutex);
  VirtualIdRecord record = VirtualIdRecord::FromBytes(incoming.data());
  const std::string ip = clientAddressOf(current);
  const std::string key = accountKey(record, ip);
  registeredRecords.erase(key);
  std::map<std::string, std::set<std::string> >::iterator entry = onlineAccounts.find(ip);
  if (entry != onlineAccounts.end()) entry->second.erase(key);
  record.SetInt(rec::kImStatus, 1);
  return write(record);
}

tessel::Receipt AccountInfoI::AccountOff(Ice::Int clientIp, Ice::Int offTime, Ice::Int offCode,
                                         const Ice::Current&) {
  tessel::Receipt receipt;
  IceUtil::RecMutex::Lock lock(mutex);
  const std::string text = tessel::DottedAddress(static_cast<std::uint32_t>(clientIp));
  std::map<std::string, std::set<std::string> >::const_iterator entry = onlineAccounts.find(text);
  if (entry == onlineAccounts.end()) return receipt;
  for (std::set<std::string>::const_iterator key = entry->second.begin();
       key != entry->second.end(); ++key) {
    std::map<std::string, tessel::CompactRecord>::const_iterator found =
        registeredRecords.find(*key);
    if (found == registeredRecords.end()) continue;
    VirtualIdRecord stored = found->second.Expand();
    if (stored.Int(rec::kOffCode) != rec::kKeepOffCode) stored.SetInt(rec::kOffCode, offCode);
    stored.SetInt(rec::kEndTime, offTime);
    stored.SetInt(rec::kImStatus, 1);
    if (offTime < stored.BeginTime()) continue;  // stays registered
    receipt.Add(write(stored));
    // A record refused stays registered, with every one after it, for the
    // caller's next attempt.
    if (!receipt.status.ok()) break;
    registeredRecords.erase(*key);
  }
  return receipt;
}

tessel::Receipt AccountInfoI::RealNameClientOff(Ice::Int clientIp, const Ice::ByteSeq& incoming,
                                                Ice::Int seatLogonTime, Ice::Int offTime,
                                                const Ice::Current& current) {
  tessel::Receipt receipt;
  if (incoming.size() != rec::kSize) return receipt;
  tessel::ConsolePrintf("\nRealNameClientOff:%d\n", offTime);
  if (offTime >= 0) receipt = AccountOff(clientIp, offTime, rec::kSeatLogoffOffCode, current);
  // The seat's log-off follows its identities' only once they are taken.
  if (!receipt.status.ok()) return receipt;
  IceUtil::RecMutex::Lock lock(mutex);
  // Without the unit identity the seat's log-off cannot be keyed: the call
  // fails, and the caller's next attempt writes it.
  if (!loadUnitIdentity()) {
    receipt.status = tessel::port::Status::Refused(
        "the unit identity cannot be read from the site environment; the seat's log-off is not "
        "accepted");
    return receipt;
  }
  const std::string prefix = tessel::MakePrefix(unitIdentity, clientIp, seatLogonTime);
  VirtualIdRecord record = VirtualIdRecord::FromBytes(incoming.data());
  // As strncpy into the 50-byte field: NUL-filled, and a text of 50 or more
  // characters fills the field without a NUL.
  record.SetText(rec::kPrefix, rec::kPrefixWidth, prefix);
  receipt.Add(write(record));
  return receipt;
}

void AccountInfoI::RestoreOnline(const VirtualIdRecord& stored) {
  const NetLogKind kind = NetLogKindOf(stored);
  if (kind != IM_LOGON && kind != IM_LOGOFF) return;
  std::string ipKey;
  if (!tessel::GetIpKey(stored.Prefix(), &ipKey)) return;
  IceUtil::RecMutex::Lock lock(mutex);
  VirtualIdRecord record = stored;
  const std::string ip = tessel::SeatAddressOf(ipKey);
  const std::string key = accountKey(record, ip);
  if (kind == IM_LOGOFF) {
    // As writeAccount or AccountOff left it: the account is off line.
    registeredRecords.erase(key);
    std::map<std::string, std::set<std::string> >::iterator entry = onlineAccounts.find(ip);
    if (entry != onlineAccounts.end()) entry->second.erase(key);
    return;
  }
  if (!tessel::IsRegistration(record)) return;
  registeredRecords.emplace(key, record);  // the first registration stays, as in registAccount
  onlineAccounts[ip].insert(key);
}

void AccountInfoI::NotifyToUpChatContent(Ice::Int, Ice::Int, Ice::Int, const Ice::Current&) {}

tessel::port::Status AccountInfoI::GetAllOnLineVirtualId(Ice::Int&, std::string&,
                                                         const Ice::Current&) {
  return tessel::port::Status::OK();
}
