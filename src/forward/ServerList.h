// The list of upstream servers in netbarcfg.ini (section "P2PVIRTUALID"),
// read the way the site's tools have always read it, and what in it the
// service uses otherwise than it is written, for the operator.
#ifndef TESSEL_FORWARD_SERVERLIST_H
#define TESSEL_FORWARD_SERVERLIST_H

#include <string>
#include <vector>

#include "port/Env.h"

namespace tessel {

struct ServerEntry {
  std::string key;      // "<address>:<port as read>": one sender per key
  std::string address;  // cut to 30 characters; "localhost" when none is given
  int port = 0;         // as read; the sender uses it modulo 65536
  int offset = -1;      // where a sender without progress starts today's file
  bool overdue = false;
};

// A value used otherwise than it is written.
struct ProfileNote {
  std::string key;    // as the file spells it
  std::string value;  // as written; empty when the key is missing
  std::string text;   // what the service does with it, for a person
};

struct ServerList {
  // False when there is no list to follow: the file cannot be read, or it
  // has no AddrCount in its section (a file being rewritten, say).
  bool usable = false;
  std::string why;  // when not usable
  std::vector<ServerEntry> entries;  // in file order, overdue ones included
  std::vector<ProfileNote> notes;
};

ServerList ReadServerList(const std::string& path, port::Env* env);
ServerList ParseServerList(const std::string& text);

}  // namespace tessel

#endif
