#include "forward/Profile.h"

#include <ini.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "port/Numbers.h"

namespace tessel {

namespace {

std::string Lower(const char* text) {
  std::string result(text != nullptr ? text : "");
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

// The text of the file and how far the parser has read it.
struct TextCursor {
  const std::string* text;
  std::size_t at;
};

// Reads one line with its leading blanks dropped, as the profile functions
// read them: an indented "key=value" line is a key of its own, where the
// parser would take it for the continuation of the key above. A line longer
// than the parser's buffer is cut, not split: its tail must not be read as
// a line of its own (a key, or a section). A NUL byte ends the line's text,
// as it would for a C string.
char* ReadLine(char* line, int size, void* stream) {
  TextCursor* cursor = static_cast<TextCursor*>(stream);
  const std::string& text = *cursor->text;
  if (cursor->at >= text.size() || size < 2) return nullptr;
  std::size_t end = text.find('\n', cursor->at);
  end = end == std::string::npos ? text.size() : end + 1;
  std::size_t length = end - cursor->at;
  if (length > static_cast<std::size_t>(size) - 1) length = static_cast<std::size_t>(size) - 1;
  std::memcpy(line, text.data() + cursor->at, length);
  line[length] = '\0';
  cursor->at = end;
  std::size_t blanks = std::strspn(line, " \t");
  if (blanks > 0) std::memmove(line, line + blanks, std::strlen(line + blanks) + 1);
  return line;
}

}  // namespace

int ProfileSection::Handler(void* user, const char* section, const char* name, const char* value) {
  ProfileSection* self = static_cast<ProfileSection*>(user);
  if (Lower(section) != self->section_) return 1;
  const std::string text = value != nullptr ? value : "";
  if (!self->values_.emplace(Lower(name), text).second)  // the first one wins
    self->ignored_.emplace_back(name != nullptr ? name : "", text);
  return 1;  // go on whatever the line held
}

bool ProfileSection::Load(const std::string& path, const std::string& section, port::Env* env,
                          std::string* why) {
  std::string text;
  const port::Status read = port::ReadFileToString(env, path, &text);
  if (read.ok()) {
    if (LoadText(text, section)) return true;
    if (why != nullptr) *why = "the parser gave up";
    return false;
  }
  section_ = Lower(section.c_str());
  values_.clear();
  ignored_.clear();
  if (why != nullptr) *why = read.ToString();
  return false;
}

bool ProfileSection::LoadText(const std::string& text, const std::string& section) {
  section_ = Lower(section.c_str());
  values_.clear();
  ignored_.clear();
  // inih strips the line ends (CRLF included) and the blanks around names
  // and values. A positive result is the first malformed line, after which
  // reading went on.
  TextCursor cursor = {&text, 0};
  int result = ini_parse_stream(&ReadLine, &cursor, &ProfileSection::Handler, this);
  if (result < 0) {
    values_.clear();
    ignored_.clear();
    return false;
  }
  return true;
}

int ProfileSection::GetInt(const std::string& key, int defaultValue) const {
  std::map<std::string, std::string>::const_iterator found = values_.find(Lower(key.c_str()));
  if (found == values_.end()) return defaultValue;
  return port::AtoiText(found->second);
}

bool ProfileSection::GetRaw(const std::string& key, std::string* value) const {
  std::map<std::string, std::string>::const_iterator found = values_.find(Lower(key.c_str()));
  if (found == values_.end()) return false;
  *value = found->second;
  return true;
}

std::vector<std::string> ProfileSection::Keys() const {
  std::vector<std::string> keys;
  for (const auto& entry : values_) keys.push_back(entry.first);
  return keys;
}

bool ProfileSection::IsPlainInt(const std::string& text) {
  std::size_t at = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
  if (at == text.size() || text.size() - at > 10) return false;
  for (std::size_t i = at; i < text.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  return value >= INT_MIN && value <= INT_MAX;
}

std::string ProfileSection::GetString(const std::string& key, const std::string& defaultValue,
                                      std::size_t maxChars) const {
  std::map<std::string, std::string>::const_iterator found = values_.find(Lower(key.c_str()));
  std::string value = found == values_.end() ? defaultValue : found->second;
  if (found != values_.end() && value.size() >= 2 &&
      (value[0] == '"' || value[0] == '\'') && value[value.size() - 1] == value[0])
    value = value.substr(1, value.size() - 2);
  if (value.size() > maxChars) value.resize(maxChars);
  return value;
}

}  // namespace tessel
