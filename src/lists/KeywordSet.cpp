#include "lists/KeywordSet.h"

#include <openssl/evp.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace tessel {

namespace {

const std::size_t kFirstSlots = 1024;
// Grown to twice its slots beyond this share of them in use.
const std::size_t kMaxLoadPercent = 70;

std::uint64_t BigEndian64(const unsigned char* in) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = value << 8 | in[i];
  return value;
}

std::uint32_t ClampTime(std::time_t t) {
  if (t < 0) return 0;
  if (static_cast<std::uint64_t>(t) > std::numeric_limits<std::uint32_t>::max())
    return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(t);
}

// Fetched once: EVP_sha256() looks the algorithm up in OpenSSL's provider
// store, under its lock, at every digest, which made up most of the cost of
// loading a large keyword store. Kept for the process's life.
const EVP_MD* Sha256() {
  static const EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  return md;
}

// One digest context per thread, kept from keyword to keyword: making one
// for every keyword cost as much as the digest itself.
class DigestContext {
 public:
  DigestContext() : context_(EVP_MD_CTX_new()) {}
  ~DigestContext() { EVP_MD_CTX_free(context_); }
  DigestContext(const DigestContext&) = delete;
  DigestContext& operator=(const DigestContext&) = delete;
  EVP_MD_CTX* get() const { return context_; }

 private:
  EVP_MD_CTX* const context_;
};

}  // namespace

KeywordDigest KeywordDigest::Of(const std::string& keyword) {
  thread_local DigestContext context;
  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const EVP_MD* md = Sha256();
  EVP_MD_CTX* ctx = context.get();
  if (md == nullptr || ctx == nullptr || EVP_DigestInit_ex2(ctx, md, nullptr) != 1 ||
      EVP_DigestUpdate(ctx, keyword.data(), keyword.size()) != 1 ||
      EVP_DigestFinal_ex(ctx, hash, &length) != 1 || length < 16)
    throw std::runtime_error("SHA-256 is not available");
  KeywordDigest digest;
  digest.high = BigEndian64(hash);
  digest.low = BigEndian64(hash + 8);
  if (digest.high == 0 && digest.low == 0) digest.low = 1;  // (0, 0) marks an empty slot
  return digest;
}

KeywordSet::KeywordSet() : digests_(kFirstSlots), leaveAt_(kFirstSlots, 0) {}

std::size_t KeywordSet::Find(const KeywordDigest& digest) const {
  const std::size_t mask = digests_.size() - 1;
  for (std::size_t slot = Home(digest);; slot = (slot + 1) & mask) {
    if (Empty(digests_[slot])) return kNone;
    if (digests_[slot] == digest) return slot;
  }
}

bool KeywordSet::Insert(const KeywordDigest& digest, std::time_t leaveAt) {
  if (Contains(digest)) return false;
  if ((size_ + 1) * 100 > digests_.size() * kMaxLoadPercent) Grow(digests_.size() * 2);
  Place(digest, ClampTime(leaveAt));
  ++size_;
  return true;
}

void KeywordSet::Place(const KeywordDigest& digest, std::uint32_t leaveAt) {
  const std::size_t mask = digests_.size() - 1;
  std::size_t slot = Home(digest);
  while (!Empty(digests_[slot])) slot = (slot + 1) & mask;
  digests_[slot] = digest;
  leaveAt_[slot] = leaveAt;
}

void KeywordSet::Reserve(std::size_t count) {
  std::size_t slots = digests_.size();
  while ((size_ + count) * 100 > slots * kMaxLoadPercent) slots *= 2;
  if (slots != digests_.size()) Grow(slots);
}

void KeywordSet::Grow(std::size_t slots) {
  std::vector<KeywordDigest> digests(slots);
  std::vector<std::uint32_t> leaveAt(digests.size(), 0);
  digests.swap(digests_);
  leaveAt.swap(leaveAt_);
  for (std::size_t i = 0; i < digests.size(); ++i)
    if (!Empty(digests[i])) Place(digests[i], leaveAt[i]);
}

bool KeywordSet::Erase(const KeywordDigest& digest) {
  const std::size_t slot = Find(digest);
  if (slot == kNone) return false;
  EraseSlot(slot);
  return true;
}

// Linear probing without tombstones: the entries after the freed slot that
// could live in it move back, so every lookup still meets its digest before
// an empty slot.
void KeywordSet::EraseSlot(std::size_t slot) {
  const std::size_t mask = digests_.size() - 1;
  std::size_t hole = slot;
  for (std::size_t next = (hole + 1) & mask; !Empty(digests_[next]); next = (next + 1) & mask) {
    const std::size_t home = Home(digests_[next]);
    // The entry may fill the hole when its home does not lie in (hole, next].
    const bool homeAfterHole = hole <= next ? (home > hole && home <= next)
                                            : (home > hole || home <= next);
    if (homeAfterHole) continue;
    digests_[hole] = digests_[next];
    leaveAt_[hole] = leaveAt_[next];
    hole = next;
  }
  digests_[hole] = KeywordDigest();
  leaveAt_[hole] = 0;
  --size_;
}

std::size_t KeywordSet::Expire(std::time_t now) {
  return Expire(now, now, [](const KeywordDigest&) { return false; });
}

std::size_t KeywordSet::Expire(std::time_t now, std::time_t keptUntil,
                               const std::function<bool(const KeywordDigest&)>& keep) {
  const std::uint32_t limit = ClampTime(now);
  std::size_t left = 0;
  for (std::size_t slot = 0; slot < digests_.size(); ++slot) {
    // An entry moved back into this slot by an erase is looked at too.
    while (!Empty(digests_[slot]) && leaveAt_[slot] <= limit) {
      if (keep(digests_[slot])) {
        leaveAt_[slot] = ClampTime(keptUntil);
        break;
      }
      EraseSlot(slot);
      ++left;
    }
  }
  return left;
}

}  // namespace tessel
