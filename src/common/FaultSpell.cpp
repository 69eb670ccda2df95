#include "common/FaultSpell.h"

namespace tessel {

bool FaultSpell::Failed(const std::string& reason, std::time_t now) {
  if (failing_) {
    ++count_;
    return false;
  }
  failing_ = true;
  reason_ = reason;
  since_ = now;
  count_ = 1;
  return true;
}

bool FaultSpell::Succeeded() {
  if (!failing_) return false;
  failing_ = false;
  reason_.clear();
  since_ = 0;
  return true;
}

}  // namespace tessel
