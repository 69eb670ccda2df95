#include "common/Faults.h"

#include "common/Console.h"

namespace tessel {

bool Faults::Note(const std::string& output, const std::string& target,
                  const port::Status& status, const std::string& holds) {
  const Key key(output, target);
  std::map<Key, Fault>::iterator fault = faults_.find(key);
  if (status.ok()) {
    if (fault != faults_.end()) {
      LogLine("records are stored again in %s (the %s)", Printable(target).c_str(),
              output.c_str());
      faults_.erase(fault);
    }
    return true;
  }
  if (fault == faults_.end()) {
    faults_[key] = Fault{output, target, status.ToString(), env_->NowSeconds()};
    LogLine("records cannot be stored in %s (the %s): %s; %s, tried again every pass",
            Printable(target).c_str(), output.c_str(), status.ToString().c_str(), holds.c_str());
  } else {
    fault->second.reason = status.ToString();
  }
  return false;
}

void Faults::Standing(const std::string& output, const std::string& target,
                      const std::string& reason) {
  const Key key(output, target);
  if (faults_.count(key) != 0) return;
  faults_[key] = Fault{output, target, reason, env_->NowSeconds()};
  LogLine("%s%s%s: %s", output.c_str(), target.empty() ? "" : " ", Printable(target).c_str(),
          reason.c_str());
}

std::vector<Fault> Faults::Current() const {
  std::vector<Fault> current;
  current.reserve(faults_.size());
  for (const auto& fault : faults_) current.push_back(fault.second);
  return current;
}

}  // namespace tessel
