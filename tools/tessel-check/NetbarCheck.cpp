// netbarcfg.ini, section P2PVIRTUALID, read by the service's own reader and
// held to what the service needs rather than to what it forgives: whole
// numbers, ports 1 to 65535, addresses that resolve, and AddrCount matching
// the entries present.
#include <netdb.h>
#include <sys/socket.h>

#include <cctype>
#include <fstream>

#include "SiteCheck.h"
#include "common/SiteFiles.h"
#include "forward/Profile.h"
#include "forward/ProgressSpelling.h"

namespace sitecheck {

namespace {

const char kSection[] = "P2PVIRTUALID";
const std::size_t kAddressMax = 30;  // the service reads no more of an address
// Entries numbered from AddrCount up to this are looked for: present, they
// would not be served.
const int kEntryNumbersLooked = 10000;
// A value no line can hold: the reader's answer for a missing key.
const char kMissing[] = "\n";

class Section {
 public:
  Section(const std::string& path, const std::string& progressDir, Problems* problems)
      : path_(path), progressDir_(progressDir), problems_(problems) {}
  // Where the senders keep their progress files.
  const std::string& progressDir() const { return progressDir_; }
  bool load() { return profile_.Load(path_, kSection, tessel::port::Env::Default()); }

  bool has(const std::string& key) const { return text(key) != kMissing; }
  std::string text(const std::string& key) const {
    return profile_.GetString(key, kMissing, std::string::npos);
  }

  // The key's whole number, as the service reads it; false (with a problem
  // reported) when it is missing and `required`, or not a whole number.
  bool number(const std::string& key, bool required, long long* value) {
    if (!has(key)) {
      if (required) problems_->missing(path_, key, "missing");
      return false;
    }
    const std::string raw = text(key);
    // A quoted number reads as 0 in the service: the two readings differ.
    if (!ParseWholeNumber(raw, value) || profile_.GetInt(key, 0) != *value) {
      problems_->value(path_, key, raw, "not a whole number");
      return false;
    }
    return true;
  }

  void problem(const std::string& key, const std::string& what) {
    problems_->value(path_, key, text(key), what);
  }
  void missing(const std::string& key, const std::string& what) {
    problems_->missing(path_, key, what);
  }

 private:
  std::string path_;
  std::string progressDir_;
  Problems* problems_;
  tessel::ProfileSection profile_;
};

std::string Key(const char* name, int entry) { return name + std::to_string(entry); }

// ", though AddrCount=3 lists it"
std::string Listed(int entries) {
  return ", though AddrCount=" + std::to_string(entries) + " lists it";
}

void CheckAddress(Section* section, int entry, int entries) {
  const std::string key = Key("ServerAddr_", entry);
  if (!section->has(key)) {
    section->missing(key, "missing" + Listed(entries) + " (the service would send to localhost)");
    return;
  }
  const std::string address = section->text(key);
  if (address.empty()) {
    section->problem(key, "empty");
    return;
  }
  if (address.size() > kAddressMax) {
    section->problem(key, "longer than " + std::to_string(kAddressMax) +
                              " characters: the service reads only the first " +
                              std::to_string(kAddressMax));
    return;
  }
  struct addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* found = nullptr;
  const int result = ::getaddrinfo(address.c_str(), nullptr, &hints, &found);
  if (result != 0) {
    section->problem(key, std::string("does not resolve: ") + ::gai_strerror(result));
    return;
  }
  ::freeaddrinfo(found);
}

void CheckEntry(Section* section, int entry, int entries) {
  long long value = 0;
  if (section->number(Key("IsOverdue_", entry), false, &value) && value != 0)
    return;  // expired: not served, nothing else of it is read
  CheckAddress(section, entry, entries);
  const std::string portKey = Key("ServerPort_", entry);
  bool portRight = false;
  if (!section->has(portKey)) {
    section->missing(portKey, "missing" + Listed(entries));
  } else if (section->number(portKey, true, &value)) {
    portRight = value >= 1 && value <= 65535;
    if (!portRight) section->problem(portKey, "not a port (1 to 65535)");
  }
  if (portRight && section->has(Key("ServerAddr_", entry))) {
    const std::string other = tessel::OtherSpellingProgress(
        tessel::port::Env::Default(), section->progressDir(), section->text(Key("ServerAddr_", entry)),
        static_cast<unsigned short>(value));
    if (!other.empty())
      section->problem(Key("ServerAddr_", entry),
                       "has no progress file, but " + other +
                           " is the same server spelt otherwise: it would be sent today's "
                           "records again from the start; spell it as before");
  }
  const std::string offsetKey = Key("OffSet_", entry);
  if (section->number(offsetKey, false, &value) && value < -1)
    section->problem(offsetKey, "not a byte offset (-1 for the start of the day file)");
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trimmed(const std::string& text) {
  const std::string::size_type start = text.find_first_not_of(" \t\r");
  if (start == std::string::npos) return std::string();
  return text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

// A key of the section the service reads: AddrCount, or one of the entry
// keys followed by the entry's number.
bool KnownKey(const std::string& key) {
  const std::string lower = Lower(key);
  if (lower == "addrcount") return true;
  for (const char* name : {"isoverdue_", "serveraddr_", "serverport_", "offset_"}) {
    const std::string prefix = name;
    if (lower.size() > prefix.size() && lower.compare(0, prefix.size(), prefix) == 0 &&
        lower.find_first_not_of("0123456789", prefix.size()) == std::string::npos)
      return true;
  }
  return false;
}

// Sections and keys the service does not read: a misspelt one is a server
// that is silently not served.
void CheckUnknownNames(const std::string& path, Problems* problems) {
  std::ifstream file(path);
  std::string line, section;
  while (std::getline(file, line)) {
    line = Trimmed(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      section = Trimmed(line.substr(1, line.find(']') - 1));
      if (Lower(section) != Lower(kSection))
        problems->file(path, "section [" + section + "] is not read by the service (it reads [" +
                                 kSection + "] only)");
      continue;
    }
    if (Lower(section) != Lower(kSection)) continue;
    const std::string key = Trimmed(line.substr(0, line.find('=')));
    if (!KnownKey(key))
      problems->value(path, key, Trimmed(line.substr(line.find('=') + 1)),
                      "not a key the service reads");
  }
}

}  // namespace

void CheckNetbarConfig(const std::string& site, Problems* problems) {
  const std::string path = tessel::JoinPath(site, "netbarcfg.ini");
  std::string why;
  if (!Readable(path, &why)) {
    problems->file(path, why + " (no upstream server is served)");
    return;
  }
  CheckUnknownNames(path, problems);
  Section section(path, tessel::JoinPath(site, tessel::kVirtualDbDirName), problems);
  if (!section.load()) {
    problems->file(path, "cannot be parsed (no upstream server is served)");
    return;
  }
  long long count = 0;
  if (!section.has("AddrCount")) {
    section.missing("AddrCount", std::string("missing in [") + kSection +
                                     "] (no upstream server is served; 0 says so)");
    return;
  }
  if (!section.number("AddrCount", true, &count)) return;
  if (count < 0 || count > kEntryNumbersLooked) {
    section.problem("AddrCount", "not a number of entries (0 to " +
                                     std::to_string(kEntryNumbersLooked) + ")");
    return;
  }
  if (count == 0)
    section.problem("AddrCount", "no upstream server is served: the records stay on this host");
  const int entries = static_cast<int>(count);
  for (int entry = 0; entry < entries; ++entry) CheckEntry(&section, entry, entries);
  for (int entry = entries; entry < kEntryNumbersLooked; ++entry)
    for (const char* name : {"ServerAddr_", "ServerPort_"})
      if (section.has(Key(name, entry))) {
        section.problem(Key(name, entry), "entry " + std::to_string(entry) +
                                              " is not served: AddrCount=" +
                                              std::to_string(entries) + " ends the list before it");
        break;
      }
}

}  // namespace sitecheck
