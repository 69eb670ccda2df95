// The keywords of the records already written, as the list thread holds them
// in memory: a 128-bit digest of each keyword (the first half of its
// SHA-256) and the time it may leave memory, 20 bytes a keyword in an open
// hash table kept at most 70% full, so under 64 bytes a keyword all told.
//
// Two different keywords are never taken for one: the digest is SHA-256's,
// cut to 128 bits, so a collision by chance among even billions of keywords
// has a probability below 10^-20, and one made on purpose by a client needs
// a second preimage of SHA-256, which nobody can compute. The texts
// themselves live in the keyword store on disk.
#ifndef TESSEL_LISTS_KEYWORDSET_H
#define TESSEL_LISTS_KEYWORDSET_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace tessel {

struct KeywordDigest {
  std::uint64_t high = 0;
  std::uint64_t low = 0;

  static KeywordDigest Of(const std::string& keyword);
  bool operator==(const KeywordDigest& other) const {
    return high == other.high && low == other.low;
  }
};

class KeywordSet {
 public:
  KeywordSet();

  bool Contains(const KeywordDigest& digest) const { return Find(digest) != kNone; }
  // Adds the digest, to leave memory once `leaveAt` has come; false (and
  // nothing changed) when it is there already.
  bool Insert(const KeywordDigest& digest, std::time_t leaveAt);
  bool Erase(const KeywordDigest& digest);
  // Lets every keyword whose time has come leave; the number that left.
  std::size_t Expire(std::time_t now);
  // The same, but a keyword for which `keep` says true stays, to be looked
  // at again once `keptUntil` has come.
  std::size_t Expire(std::time_t now, std::time_t keptUntil,
                     const std::function<bool(const KeywordDigest&)>& keep);
  // Makes room for `count` keywords at once (a store about to be loaded),
  // so that the table does not grow, and hold two tables, on the way.
  void Reserve(std::size_t count);

  std::size_t size() const { return size_; }

  // The slot of a digest, kNone when absent: a compaction of the store marks
  // the keywords it has written by slot (see slots()).
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t Find(const KeywordDigest& digest) const;
  // Asks for the cache lines a Find or Insert of `digest` starts at, so that
  // a caller that knows its next digests early does not wait for memory.
  void Prefetch(const KeywordDigest& digest) const {
    __builtin_prefetch(&digests_[Home(digest)]);
    __builtin_prefetch(&leaveAt_[Home(digest)]);
  }
  std::size_t slots() const { return digests_.size(); }

 private:
  void Grow(std::size_t slots);
  void Place(const KeywordDigest& digest, std::uint32_t leaveAt);
  void EraseSlot(std::size_t slot);
  std::size_t Home(const KeywordDigest& digest) const {
    return static_cast<std::size_t>(digest.low) & (digests_.size() - 1);
  }
  static bool Empty(const KeywordDigest& digest) { return digest.high == 0 && digest.low == 0; }

  std::vector<KeywordDigest> digests_;  // (0, 0): an empty slot
  std::vector<std::uint32_t> leaveAt_;  // seconds since 1970, by slot
  std::size_t size_ = 0;
};

}  // namespace tessel

#endif
