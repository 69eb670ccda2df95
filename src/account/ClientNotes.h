// What the service notes about its callers: calls refused because the
// caller's address is not allowed, and records ignored because they are
// malformed. Each is counted per client address and reason, and told in one
// operator line the first time, then at most once an hour per address and
// reason (by the Env's clock), so that an agent sending the same bad record
// every second does not fill the log.
#ifndef TESSEL_ACCOUNT_CLIENTNOTES_H
#define TESSEL_ACCOUNT_CLIENTNOTES_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "port/Env.h"

namespace tessel {

class ClientNotes {
 public:
  enum Reason {
    kNotAllowed,     // the address is not in the allowed clients
    kWrongLength,    // a record that is not 1247 bytes
    kNoIpKey,        // a prefix without two underscores (no IP key)
    kSeatPrefixCut,  // a seat's log-off prefix cut at 50 bytes before its IP key ends
  };

  static constexpr std::int64_t kTellEveryMs = 3600 * 1000;
  // Addresses remembered at most; past it, those not told within the hour
  // are forgotten (their counts start again), so that callers from many
  // addresses cannot make the service grow without end.
  static constexpr std::size_t kMaxEntries = 4096;

  explicit ClientNotes(port::Env* env) : env_(env) {}

  // Counts one call from `address` (empty: a call without a connection) for
  // `reason`; logs "<what>" with the address and count when it is time to.
  // `what` says what happened ("write: 1246 bytes, not 1247").
  void Note(const std::string& address, Reason reason, const std::string& what);

  // Totals since the start: calls refused, records ignored as malformed.
  std::uint64_t Disallowed() const;
  std::uint64_t Malformed() const;
  // Count of one address and reason, as far as it is remembered.
  std::uint64_t CountOf(const std::string& address, Reason reason) const;

 private:
  struct Entry {
    std::uint64_t count = 0;
    std::int64_t toldAtMs = 0;
  };
  typedef std::pair<std::string, Reason> Key;

  void ForgetOld(std::int64_t nowMs);

  port::Env* const env_;
  // Taken alone: nothing else is locked while it is held, nor logged.
  mutable std::mutex mutex_;
  std::map<Key, Entry> entries_;
  std::uint64_t disallowed_ = 0;
  std::uint64_t malformed_ = 0;
};

}  // namespace tessel

#endif
