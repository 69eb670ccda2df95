// Reading one section of an INI profile the way the site's tools have always
// read netbarcfg.ini: section and key names without regard to case, the
// first occurrence of a key counts, a missing file or key gives the default.
#ifndef TESSEL_FORWARD_PROFILE_H
#define TESSEL_FORWARD_PROFILE_H

#include <map>
#include <string>

#include "port/Env.h"

namespace tessel {

class ProfileSection {
 public:
  // Reads `section` of the file; false (and an empty section) when the file
  // cannot be read.
  bool Load(const std::string& path, const std::string& section,
            port::Env* env = port::Env::Default());
  // Reads `section` of a profile's text; false (and an empty section) when
  // the parser gives up.
  bool LoadText(const std::string& text, const std::string& section);

  // The key's value as a decimal integer; a value that is not a number is 0.
  int GetInt(const std::string& key, int defaultValue) const;

  // The key's value (surrounding quotes removed), cut to `maxChars`.
  std::string GetString(const std::string& key, const std::string& defaultValue,
                        std::size_t maxChars) const;

 private:
  static int Handler(void* user, const char* section, const char* name, const char* value);

  std::string section_;  // lower case
  std::map<std::string, std::string> values_;  // lower-case key -> value
};

}  // namespace tessel

#endif
