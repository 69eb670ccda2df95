#include "record/Prefix.h"

#include "port/Numbers.h"
#include "record/VirtualIdRecord.h"

namespace tessel {

std::string MakePrefix(const std::string& unitIdentity, std::int32_t clientIp,
                       std::int32_t seatLogonTime) {
  return unitIdentity + "_" + std::to_string(static_cast<std::uint32_t>(clientIp)) + "_" +
         std::to_string(seatLogonTime) + "_";
}

bool GetIpKey(const std::string& prefix, std::string* ipKey) {
  const std::string::size_type first = prefix.find('_');
  if (first == std::string::npos) return false;
  const std::string::size_type second = prefix.find('_', first + 1);
  if (second == std::string::npos) return false;
  std::string key = prefix.substr(first + 1, second - first - 1);
  if (key.size() > rec::kMaxIpKey) key.resize(rec::kMaxIpKey);
  *ipKey = key;
  return true;
}

int GetTimeKey(const std::string& prefix) {
  std::string text = prefix;
  if (!text.empty() && text.back() == '_') text.pop_back();
  const std::string::size_type last = text.rfind('_');
  if (last == std::string::npos) return 0;
  return port::AtoiText(text.substr(last + 1));
}

}  // namespace tessel
