// What the configuration cannot show: a port another program already
// listens on, and a file system too full for the record files. Both would
// otherwise show only once the service runs (a start that fails with
// "Address already in use" without the port, records refused).
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "SiteCheck.h"

namespace sitecheck {

namespace {

struct Listen {
  std::string host;  // empty: every interface
  std::string port;
};

// "-h" and "-p" of a tcp, ssl, ws or wss endpoint; false for others and
// for a port chosen by the system.
bool ListenOf(const std::string& endpoint, Listen* listen) {
  std::istringstream words(endpoint);
  std::string word, transport;
  words >> transport;
  if (transport != "tcp" && transport != "ssl" && transport != "ws" && transport != "wss")
    return false;
  while (words >> word) {
    std::string value;
    if ((word == "-h" || word == "-p") && (words >> value)) {
      if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
      (word == "-h" ? listen->host : listen->port) = value;
    }
  }
  if (listen->host == "*" || listen->host == "0.0.0.0" || listen->host == "::")
    listen->host.clear();
  return !listen->port.empty() && listen->port != "0";
}

// Empty when the port can be bound at `host` as Ice binds it (with
// SO_REUSEADDR); the reason otherwise.
std::string WhyNotBindable(const Listen& listen) {
  struct addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  struct addrinfo* found = nullptr;
  const int resolved = ::getaddrinfo(listen.host.empty() ? nullptr : listen.host.c_str(),
                                     listen.port.c_str(), &hints, &found);
  if (resolved != 0) return std::string();  // the endpoint check tells it
  std::string why;
  for (struct addrinfo* at = found; at != nullptr && why.empty(); at = at->ai_next) {
    const int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
    if (fd < 0) continue;  // no such family on this host
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (at->ai_family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(fd, at->ai_addr, at->ai_addrlen) != 0 || ::listen(fd, 1) != 0) {
      const int error = errno;
      const std::string where =
          "port " + listen.port + (listen.host.empty() ? std::string() : " on " + listen.host);
      why = error == EADDRINUSE
                ? where + " is in use (by another program, or by this site's icebox if it runs)"
                : where + " cannot be listened on: " + std::strerror(error);
    }
    ::close(fd);
  }
  ::freeaddrinfo(found);
  return why;
}

}  // namespace

void CheckPortsFree(const std::string& file, const std::string& key, const std::string& endpoints,
                    Problems* problems) {
  for (const std::string& endpoint : EndpointsOf(endpoints)) {
    Listen listen;
    if (!ListenOf(endpoint, &listen)) continue;
    const std::string why = WhyNotBindable(listen);
    if (!why.empty()) {
      problems->value(file, key, endpoints, why);
      return;
    }
  }
}

void CheckFreeSpace(const std::string& dir, long long minFreeBytes, Problems* problems) {
  if (minFreeBytes <= 0) return;
  std::string why;
  const std::string existing = NearestExisting(dir, &why);
  if (existing.empty()) return;  // told by the directory checks
  struct statvfs fs;
  if (::statvfs(existing.c_str(), &fs) != 0) return;
  const long long free = static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
  if (free < minFreeBytes)
    problems->file(dir, "only " + std::to_string(free / (1024 * 1024)) +
                            " MB free on its file system, under the " +
                            std::to_string(minFreeBytes / (1024 * 1024)) +
                            " MB of tesselWriteService.MinFreeMegabytes: records would be refused");
}

}  // namespace sitecheck
