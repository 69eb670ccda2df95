#include "account/ClientNotes.h"

#include "common/Console.h"

namespace tessel {

namespace {

const char* Verdict(ClientNotes::Reason reason) {
  return reason == ClientNotes::kNotAllowed ? "refused" : "ignored";
}

const char* Subject(ClientNotes::Reason reason) {
  return reason == ClientNotes::kNotAllowed ? "a call" : "a record";
}

}  // namespace

void ClientNotes::Note(const std::string& address, Reason reason, const std::string& what) {
  bool tell = false;
  std::uint64_t count = 0;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (reason == kNotAllowed)
      ++disallowed_;
    else
      ++malformed_;
    const std::int64_t now = env_->NowMillis();
    const Key key(address, reason);
    std::map<Key, Entry>::iterator entry = entries_.find(key);
    if (entry == entries_.end()) {
      if (entries_.size() >= kMaxEntries) ForgetOld(now);
      if (entries_.size() >= kMaxEntries) return;  // counted in the totals only
      entry = entries_.emplace(key, Entry()).first;
      tell = true;
    } else {
      tell = now - entry->second.toldAtMs >= kTellEveryMs;
    }
    count = ++entry->second.count;
    if (tell) entry->second.toldAtMs = now;
  }
  if (!tell) return;
  LogLine("%s from %s is %s: %s (%llu like it from this client so far; told once an hour)",
          Subject(reason), address.empty() ? "a caller without a connection" : address.c_str(),
          Verdict(reason), Printable(what).c_str(), static_cast<unsigned long long>(count));
}

void ClientNotes::ForgetOld(std::int64_t nowMs) {
  for (std::map<Key, Entry>::iterator entry = entries_.begin(); entry != entries_.end();) {
    if (nowMs - entry->second.toldAtMs >= kTellEveryMs)
      entry = entries_.erase(entry);
    else
      ++entry;
  }
}

std::uint64_t ClientNotes::Disallowed() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return disallowed_;
}

std::uint64_t ClientNotes::Malformed() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return malformed_;
}

std::uint64_t ClientNotes::CountOf(const std::string& address, Reason reason) const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::map<Key, Entry>::const_iterator entry = entries_.find(Key(address, reason));
  return entry == entries_.end() ? 0 : entry->second.count;
}

}  // namespace tessel
