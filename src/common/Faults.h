// The outputs that cannot be written just now (the keyword store, an IP
// file, the IA directory...), each with its reason and since when. A fault
// is told once when it begins and once when it ends, never per attempt, and
// the faults standing now are what the status shows: a fault shows while it
// lasts, and only while it lasts.
#ifndef TESSEL_COMMON_FAULTS_H
#define TESSEL_COMMON_FAULTS_H

#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "port/Env.h"

namespace tessel {

struct Fault {
  std::string output;  // what kind of output: "keyword store", "IP file", ...
  std::string target;  // the file or directory
  std::string reason;
  std::time_t since = 0;
};

class Faults {
 public:
  explicit Faults(port::Env* env) : env_(env) {}

  // The outcome of one use of `target`: a failure begins a fault (one line
  // saying what it holds back, `holds`), a success ends one (one line).
  // True when the use succeeded.
  bool Note(const std::string& output, const std::string& target, const port::Status& status,
            const std::string& holds);
  // A fault that no attempt can end while the service runs (a setting
  // missing): told once, shown for as long as the service runs.
  void Standing(const std::string& output, const std::string& target, const std::string& reason);

  std::vector<Fault> Current() const;

 private:
  typedef std::pair<std::string, std::string> Key;

  port::Env* const env_;
  std::map<Key, Fault> faults_;
};

}  // namespace tessel

#endif
