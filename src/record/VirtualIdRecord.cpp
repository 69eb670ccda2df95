#include "record/VirtualIdRecord.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "port/Coding.h"

namespace tessel {

VirtualIdRecord::VirtualIdRecord() { std::memset(bytes, 0, sizeof bytes); }

VirtualIdRecord VirtualIdRecord::FromBytes(const void* data) {
  VirtualIdRecord record;
  std::memcpy(record.bytes, data, rec::kSize);
  return record;
}

std::int32_t VirtualIdRecord::Int(std::size_t offset) const {
  return static_cast<std::int32_t>(port::DecodeFixed32LE(bytes + offset));
}

void VirtualIdRecord::SetInt(std::size_t offset, std::int32_t value) {
  port::EncodeFixed32LE(bytes + offset, static_cast<std::uint32_t>(value));
}

std::string VirtualIdRecord::Text(std::size_t offset, std::size_t width) const {
  const char* start = reinterpret_cast<const char*>(bytes + offset);
  const void* nul = std::memchr(start, '\0', width);
  std::size_t length = nul ? static_cast<const char*>(nul) - start : width;
  return std::string(start, length);
}

void VirtualIdRecord::SetText(std::size_t offset, std::size_t width,
                              const std::string& text) {
  std::memset(bytes + offset, 0, width);
  std::memcpy(bytes + offset, text.data(), text.size() < width ? text.size() : width);
}

NetLogKind NetLogKindOf(const VirtualIdRecord& record) {
  const std::int32_t infoType = record.InfoType();
  if (InfoTypeOf(infoType).kind == InfoKind::kSeat) {
    const std::int32_t logon = record.LogonTime();
    const std::int32_t logoff = record.LogoffTime();
    return logoff == logon || logoff <= 0 ? REALNAME_LOGON : REALNAME_LOGOFF;
  }
  if (IsImInfoType(infoType)) {
    switch (record.ImStatus()) {
      case 0: return IM_LOGON;
      case 1: return IM_LOGOFF;
      default: return IM_OTHER;
    }
  }
  return OTHER_INFO;
}

bool SettleLogonLogoffTime(VirtualIdRecord& record) {
  if (InfoTypeOf(record.InfoType()).kind != InfoKind::kSeat) return false;
  const std::int32_t logon = record.LogonTime();
  const std::int32_t logoff = record.LogoffTime();
  if (logoff == logon || logoff > 0) return false;
  record.SetInt(rec::kLogoffTime, logon);
  return true;
}

NetLogKind GetNetLogKind(VirtualIdRecord& record) {
  SettleLogonLogoffTime(record);
  return NetLogKindOf(record);
}

std::string GetGroupKey(const VirtualIdRecord& record) {
  return record.Prefix() + std::to_string(record.InfoType()) + "_" +
         record.Text(rec::kAccount, rec::kSeatAccountWidth);
}

}  // namespace tessel
