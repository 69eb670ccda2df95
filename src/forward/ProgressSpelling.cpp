#include "forward/ProgressSpelling.h"

#include <netdb.h>
#include <sys/socket.h>

#include <set>
#include <vector>

#include "common/SiteFiles.h"

namespace tessel {

namespace {

// The numeric addresses a host name resolves to (none when it does not).
std::set<std::string> AddressesOf(const std::string& host) {
  std::set<std::string> addresses;
  struct addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return addresses;
  for (struct addrinfo* at = found; at != nullptr; at = at->ai_next) {
    char text[NI_MAXHOST];
    if (::getnameinfo(at->ai_addr, at->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) ==
        0)
      addresses.insert(text);
  }
  ::freeaddrinfo(found);
  return addresses;
}

}  // namespace

std::string OtherSpellingProgress(port::Env* env, const std::string& dir, const std::string& host,
                                  unsigned short port) {
  if (env->FileExists(ProgressFileName(dir, host, port))) return std::string();
  std::vector<std::string> names;
  if (!env->GetChildren(dir, &names).ok()) return std::string();
  const std::string portSuffix = "_" + std::to_string(port);
  std::set<std::string> ours;
  bool resolved = false;
  SiteFile file;
  for (const std::string& name : names) {
    if (!ParseFileName(name, &file) || file.type != SiteFileType::kProgressFile) continue;
    const std::string& server = file.server;
    if (server.size() <= portSuffix.size() ||
        server.compare(server.size() - portSuffix.size(), portSuffix.size(), portSuffix) != 0)
      continue;
    const std::string other = server.substr(0, server.size() - portSuffix.size());
    if (other == host) continue;
    if (!resolved) {
      ours = AddressesOf(host);
      resolved = true;
    }
    for (const std::string& address : AddressesOf(other))
      if (ours.count(address) != 0) return JoinPath(dir, name);
  }
  return std::string();
}

}  // namespace tessel
