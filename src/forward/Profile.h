// Reading one section of an INI profile the way the site's tools have always
// read netbarcfg.ini: section and key names without regard to case, the
// first occurrence of a key counts, a missing file or key gives the default.
#ifndef TESSEL_FORWARD_PROFILE_H
#define TESSEL_FORWARD_PROFILE_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "port/Env.h"

namespace tessel {

class ProfileSection {
 public:
  // Reads `section` of the file; false (and an empty section) when the file
  // cannot be read, with the reason in *why when it is given.
  bool Load(const std::string& path, const std::string& section,
            port::Env* env, std::string* why = nullptr);
  // Reads `section` of a profile's text; false (and an empty section) when
  // the parser gives up.
  bool LoadText(const std::string& text, const std::string& section);

  // The key's value as a decimal integer; a value that is not a number is 0.
  int GetInt(const std::string& key, int defaultValue) const;

  // The key's value (surrounding quotes removed), cut to `maxChars`.
  std::string GetString(const std::string& key, const std::string& defaultValue,
                        std::size_t maxChars) const;

  // The key's value as written (blanks around it removed); false when the
  // section has no such key.
  bool GetRaw(const std::string& key, std::string* value) const;

  // True when GetInt reads `text` as it is written: an optional sign and
  // decimal digits that fit an int, nothing else.
  static bool IsPlainInt(const std::string& text);

  // The section's keys, in lower case.
  std::vector<std::string> Keys() const;

  // The later occurrences of keys given more than once in the section,
  // which do not count: (the key as written, its value), in file order.
  const std::vector<std::pair<std::string, std::string>>& ignored() const { return ignored_; }

 private:
  static int Handler(void* user, const char* section, const char* name, const char* value);

  std::string section_;  // lower case
  std::map<std::string, std::string> values_;  // lower-case key -> value
  std::vector<std::pair<std::string, std::string>> ignored_;
};

}  // namespace tessel

#endif
