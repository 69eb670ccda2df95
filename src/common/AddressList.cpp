#include "common/AddressList.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>

namespace tessel {

namespace {

const unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

// An address text into its bytes: 4 for IPv4, 16 for IPv6.
bool ParseAddress(const std::string& text, bool* v6, unsigned char bytes[16]) {
  std::memset(bytes, 0, 16);
  *v6 = false;
  if (inet_pton(AF_INET, text.c_str(), bytes) == 1) return true;
  *v6 = true;
  return inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

bool IsMapped(bool v6, const unsigned char bytes[16]) {
  return v6 && std::memcmp(bytes, kMappedPrefix, sizeof kMappedPrefix) == 0;
}

// The mapped IPv6 address as the IPv4 address it carries.
void Unmap(bool* v6, unsigned char bytes[16]) {
  std::memmove(bytes, bytes + 12, 4);
  std::memset(bytes + 4, 0, 12);
  *v6 = false;
}

bool PrefixMatches(const unsigned char* a, const unsigned char* b, int bits) {
  const int whole = bits / 8;
  if (std::memcmp(a, b, whole) != 0) return false;
  const int rest = bits % 8;
  if (rest == 0) return true;
  const unsigned char mask = static_cast<unsigned char>(0xff << (8 - rest));
  return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

port::Status AddressList::Parse(const std::string& text, AddressList* list) {
  std::vector<Network> networks;
  const char* const kSeparators = " \t,";
  for (std::string::size_type at = text.find_first_not_of(kSeparators); at != std::string::npos;
       at = text.find_first_not_of(kSeparators, at)) {
    const std::string::size_type end = text.find_first_of(kSeparators, at);
    const std::string entry = text.substr(at, end == std::string::npos ? end : end - at);
    at = end;
    const std::string::size_type slash = entry.find('/');
    Network network;
    if (!ParseAddress(entry.substr(0, slash), &network.v6, network.bytes))
      return port::Status::Refused(entry + ": not an IPv4 or IPv6 address");
    const int maxBits = network.v6 ? 128 : 32;
    network.prefixBits = maxBits;
    if (slash != std::string::npos) {
      const std::string bits = entry.substr(slash + 1);
      if (bits.empty() || bits.size() > 3 ||
          bits.find_first_not_of("0123456789") != std::string::npos ||
          std::atoi(bits.c_str()) > maxBits)
        return port::Status::Refused(entry + ": the prefix length after \"/\" must be 0 to " +
                                     std::to_string(maxBits));
      network.prefixBits = std::atoi(bits.c_str());
    }
    if (IsMapped(network.v6, network.bytes) && network.prefixBits >= 96) {
      Unmap(&network.v6, network.bytes);
      network.prefixBits -= 96;
    }
    networks.push_back(network);
  }
  list->networks_.swap(networks);
  return port::Status::OK();
}

bool AddressList::Contains(const std::string& address) const {
  bool v6 = false;
  unsigned char bytes[16];
  // A link-local peer may carry its interface ("%eth0"), which no entry names.
  if (!ParseAddress(address.substr(0, address.find('%')), &v6, bytes)) return false;
  if (IsMapped(v6, bytes)) Unmap(&v6, bytes);
  for (const Network& network : networks_)
    if (network.v6 == v6 && PrefixMatches(network.bytes, bytes, network.prefixBits)) return true;
  return false;
}

}  // namespace tessel
