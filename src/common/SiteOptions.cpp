#include "common/SiteOptions.h"

namespace tessel {

bool ParseDurability(const std::string& text, Durability* durability) {
  if (text == "power") *durability = Durability::kPower;
  else if (text == "process") *durability = Durability::kProcess;
  else return false;
  return true;
}

const char* DurabilityName(Durability durability) {
  return durability == Durability::kPower ? "power" : "process";
}

}  // namespace tessel
