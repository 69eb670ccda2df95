// Client addresses and networks as an operator writes them in a property:
// "127.0.0.1 ::1 192.168.0.0/16 fd00::/8", entries separated by spaces or
// commas. An IPv4-mapped IPv6 entry ("::ffff:10.0.0.0/104") means its IPv4
// part, as a peer of a dual-stack endpoint is seen by its IPv4 address.
#ifndef TESSEL_COMMON_ADDRESSLIST_H
#define TESSEL_COMMON_ADDRESSLIST_H

#include <string>
#include <vector>

#include "port/Status.h"

namespace tessel {

class AddressList {
 public:
  // Parses `text` into *list (replacing what it held). A bad entry gives a
  // refusal naming it ("10.0.0.300: not an IPv4 or IPv6 address"), and
  // *list is left as it was.
  static port::Status Parse(const std::string& text, AddressList* list);

  bool empty() const { return networks_.empty(); }
  // True when the address (text as a connection gives it: "10.0.0.5",
  // "fe80::1%eth0", "::ffff:10.0.0.5") lies in one of the entries; false for
  // text that is no address.
  bool Contains(const std::string& address) const;

 private:
  struct Network {
    bool v6;
    unsigned char bytes[16];
    int prefixBits;
  };
  std::vector<Network> networks_;
};

}  // namespace tessel

#endif
