#include "account/AccountInfoI.h"

#include <Ice/Ice.h>

#include <clocale>
#include <cstdio>
#include <cstring>

#include "SiteEnv.h"
#include "common/Console.h"
#include "common/GbkTexts.h"
#include "record/VirtualIdRecord.h"

namespace gbk = tessel::gbk;
namespace rec = tessel::rec;

namespace {

// Descriptions longer than this are not from a plain TCP peer.
const std::string::size_type kMaxConnectionText = 260;

Ice::ByteSeq ToSeq(const VirtualIdRecord& record) {
  return Ice::ByteSeq(record.bytes, record.bytes + rec::kSize);
}

// registAccount and writeAccount answer only whole records from a plain
// peer; the connection is needed (a collocated call has none and fails).
bool AcceptsAccountCall(const Ice::ByteSeq& record, const Ice::Current& current) {
  return record.size() == rec::kSize && current.con->toString().size() <= kMaxConnectionText;
}

}  // namespace

namespace tessel {

std::string PlainHostAddress(const std::string& address) {
  static const char kMappedPrefix[] = "::ffff:";
  const std::size_t prefixLength = sizeof kMappedPrefix - 1;
  if (address.size() > prefixLength && address.compare(0, prefixLength, kMappedPrefix) == 0 &&
      address.find(':', prefixLength) == std::string::npos &&
      address.find('.', prefixLength) != std::string::npos)
    return address.substr(prefixLength);
  return address;
}

}  // namespace tessel

AccountInfoI::AccountInfoI(const Ice::CommunicatorPtr& communicator)
    : communicator(communicator) {}

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

void AccountInfoI::handleRecord(const Ice::ByteSeq&) {}

void AccountInfoI::write(const Ice::ByteSeq& record, const Ice::Current&) {
  if (record.size() != rec::kSize) return;
  std::setlocale(LC_CTYPE, "");
  IceUtil::RecMutex::Lock lock(mutex);
  handleRecord(record);
}

void AccountInfoI::registAccount(const Ice::ByteSeq& incoming, const Ice::Current& current) {
  if (!AcceptsAccountCall(incoming, current)) return;
  IceUtil::RecMutex::Lock lock(mutex);
  VirtualIdRecord record = VirtualIdRecord::FromBytes(incoming.data());
  const std::string ip = clientAddressOf(current);
  const std::string key = accountKey(record, ip);
  registeredRecords.insert(std::make_pair(key, record));  // an existing entry stays
  onlineAccounts[ip].insert(key);
  record.SetInt(rec::kEndTime, record.BeginTime());
  record.SetInt(rec::kImStatus, 0);
  write(ToSeq(record), current);
}

void AccountInfoI::writeAccount(const Ice::ByteSeq& incoming, const Ice::Current& current) {
  if (!AcceptsAccountCall(incoming, current)) return;
  IceUtil::RecMutex::Lock lock(mutex);
  VirtualIdRecord record = VirtualIdRecord::FromBytes(incoming.data());
  const std::string ip = clientAddressOf(current);
  const std::string key = accountKey(record, ip);
  registeredRecords.erase(key);
  std::map<std::string, std::set<std::string> >::iterator entry = onlineAccounts.find(ip);
  if (entry != onlineAccounts.end()) entry->second.erase(key);
  record.SetInt(rec::kImStatus, 1);
  write(ToSeq(record), Ice::Current());
}

void AccountInfoI::AccountOff(Ice::Int clientIp, Ice::Int offTime, Ice::Int offCode,
                              const Ice::Current&) {
  IceUtil::RecMutex::Lock lock(mutex);
  const std::uint32_t ip = static_cast<std::uint32_t>(clientIp);
  char text[20];
  std::memset(text, 0, sizeof text);
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(ip & 0xFF),
                static_cast<int>((ip >> 8) & 0xFF), static_cast<int>((ip >> 16) & 0xFF),
                static_cast<int>((ip >> 24) & 0xFF));
  std::map<std::string, std::set<std::string> >::const_iterator entry = onlineAccounts.find(text);
  if (entry == onlineAccounts.end()) return;
  for (std::set<std::string>::const_iterator key = entry->second.begin();
       key != entry->second.end(); ++key) {
    std::map<std::string, VirtualIdRecord>::const_iterator found = registeredRecords.find(*key);
    if (found == registeredRecords.end()) continue;
    VirtualIdRecord stored = found->second;
    if (stored.Int(rec::kOffCode) != rec::kKeepOffCode) stored.SetInt(rec::kOffCode, offCode);
    stored.SetInt(rec::kEndTime, offTime);
    stored.SetInt(rec::kImStatus, 1);
    if (offTime < stored.BeginTime()) continue;  // stays registered
    write(ToSeq(stored), Ice::Current());
    registeredRecords.erase(*key);
  }
}

void AccountInfoI::RealNameClientOff(Ice::Int clientIp, const Ice::ByteSeq& incoming,
                                     Ice::Int seatLogonTime, Ice::Int offTime,
                                     const Ice::Current& current) {
  if (incoming.size() != rec::kSize) return;
  tessel::ConsolePrintf("\nRealNameClientOff:%d\n", offTime);
  if (offTime >= 0) AccountOff(clientIp, offTime, rec::kSeatLogoffOffCode, current);
  IceUtil::RecMutex::Lock lock(mutex);
  if (!loadUnitIdentity()) return;
  char prefix[60];
  std::memset(prefix, 0, sizeof prefix);
  std::snprintf(prefix, sizeof prefix, "%s_%u_%d_", unitIdentity.c_str(),
                static_cast<unsigned>(clientIp), seatLogonTime);
  VirtualIdRecord record = VirtualIdRecord::FromBytes(incoming.data());
  // As strncpy into the 50-byte field: NUL-filled, and a text of 50 or more
  // characters fills the field without a NUL.
  record.SetText(rec::kPrefix, rec::kPrefixWidth, prefix);
  write(ToSeq(record), Ice::Current());
}

void AccountInfoI::NotifyToUpChatContent(Ice::Int, Ice::Int, Ice::Int, const Ice::Current&) {}

void AccountInfoI::GetAllOnLineVirtualId(Ice::Int&, std::string&, const Ice::Current&) {}
