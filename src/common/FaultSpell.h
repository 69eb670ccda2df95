// One condition that goes bad and comes back, for the places that tell it in
// words of their own (an upstream server down, a file that cannot be used,
// records refused): told in one line when it begins and one when it ends,
// never once per attempt. Faults keeps the write side's many outputs, all
// told in the same words; this is the same rule for a single condition.
// Not thread-safe: its owner serialises the calls.
#ifndef TESSEL_COMMON_FAULTSPELL_H
#define TESSEL_COMMON_FAULTSPELL_H

#include <cstdint>
#include <ctime>
#include <string>

namespace tessel {

class FaultSpell {
 public:
  // One bad outcome. True when it begins a spell: the owner tells it then,
  // and only then. `reason` and `now` are kept from the spell's beginning.
  bool Failed(const std::string& reason = std::string(), std::time_t now = 0);
  // One good outcome. True when it ends a spell: the owner tells it then;
  // count() still holds the spell's count until the next one begins.
  bool Succeeded();

  bool failing() const { return failing_; }
  const std::string& reason() const { return reason_; }
  std::time_t since() const { return since_; }
  // The bad outcomes of the current (or the last) spell.
  std::uint64_t count() const { return count_; }

 private:
  bool failing_ = false;
  std::string reason_;
  std::time_t since_ = 0;
  std::uint64_t count_ = 0;
};

}  // namespace tessel

#endif
