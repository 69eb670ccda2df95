#include "forward/ServerList.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "common/Console.h"
#include "forward/Profile.h"
#include "record/ProgressFile.h"

namespace tessel {

namespace {

const char kSection[] = "P2PVIRTUALID";
const std::size_t kMaxAddress = 30;
const char* const kEntryKeys[] = {"isoverdue_", "serveraddr_", "serverport_", "offset_"};

std::string Numbered(const char* key, int i) { return key + std::to_string(i); }

std::string Quoted(const std::string& value) { return "\"" + Printable(value) + "\""; }

// The number of the entry a key belongs to ("serverport_12" is 12), or -1.
int EntryNumber(const std::string& lowerKey) {
  for (const char* prefix : kEntryKeys) {
    const std::string p = prefix;
    if (lowerKey.compare(0, p.size(), p) != 0) continue;
    const std::string digits = lowerKey.substr(p.size());
    if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == '0') ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return -1;
    const long long n = std::strtoll(digits.c_str(), nullptr, 10);
    return n < INT_MAX ? static_cast<int>(n) : -1;
  }
  return -1;
}

class Reader {
 public:
  Reader(const ProfileSection& profile, ServerList* list) : profile_(profile), list_(list) {}

  bool Has(const std::string& key) const {
    std::string raw;
    return profile_.GetRaw(key, &raw);
  }

  // An integer as the profile functions read it; a value that does not
  // read as written is noted.
  int Int(const std::string& key, int defaultValue) {
    std::string raw;
    if (!profile_.GetRaw(key, &raw)) return defaultValue;
    const int value = profile_.GetInt(key, defaultValue);
    if (!ProfileSection::IsPlainInt(raw))
      Note(key, raw, key + "=" + Quoted(raw) + " is read as " + std::to_string(value));
    return value;
  }

  void Port(const std::string& key, int port) {
    std::string raw;
    if (!profile_.GetRaw(key, &raw)) {
      Note(key, "", key + " is missing: port 0 is used");
    } else if (port < 0 || port > 65535) {
      Note(key, raw, key + "=" + Quoted(raw) + " is used as port " +
                         std::to_string(static_cast<unsigned short>(port)));
    }
  }

  std::string Address(const std::string& key) {
    std::string raw;
    if (!profile_.GetRaw(key, &raw)) {
      Note(key, "", key + " is missing: the server is taken to be localhost");
      return "localhost";
    }
    std::string address = profile_.GetString(key, "localhost", std::string::npos);
    if (address.size() > kMaxAddress) {
      address.resize(kMaxAddress);
      Note(key, raw, key + "=" + Quoted(raw) + " is cut to " + std::to_string(kMaxAddress) +
                         " characters: " + Quoted(address));
    }
    return address;
  }

  void Offset(const std::string& key, int offset) {
    std::string raw;
    if (!profile_.GetRaw(key, &raw)) return;
    if (offset < -1)
      Note(key, raw, key + "=" + Quoted(raw) + " is read as -1, the start of the file");
    else if (offset > 0 && RoundToRecord(static_cast<std::uint32_t>(offset)) !=
                               static_cast<std::uint32_t>(offset))
      Note(key, raw, key + "=" + Quoted(raw) + " is not at a record boundary: a new sender starts at " +
                         std::to_string(RoundToRecord(static_cast<std::uint32_t>(offset))));
  }

  void Note(const std::string& key, const std::string& value, const std::string& text) {
    list_->notes.push_back(ProfileNote{key, value, text});
  }

 private:
  const ProfileSection& profile_;
  ServerList* list_;
};

void Read(const ProfileSection& profile, ServerList* list) {
  Reader reader(profile, list);
  std::string countText;
  if (!profile.GetRaw("AddrCount", &countText)) {
    list->why = "it has no AddrCount in [P2PVIRTUALID]";
    return;
  }
  list->usable = true;
  for (const auto& ignored : profile.ignored())
    reader.Note(ignored.first, ignored.second,
                ignored.first + "=" + Quoted(ignored.second) + " is ignored: the first " +
                    ignored.first + " counts");
  const int count = reader.Int("AddrCount", 0);

  // Entries after the last one the file names are all alike (localhost,
  // port 0): one stands for them, so that no count makes a list longer
  // than the file.
  int named = 0;
  for (const std::string& key : profile.Keys()) named = std::max(named, EntryNumber(key) + 1);
  const int listed = std::min(count, named);
  int keyless = 0, firstKeyless = -1;
  for (int i = 0; i < listed; ++i) {
    ServerEntry entry;
    const std::string addressKey = Numbered("ServerAddr_", i), portKey = Numbered("ServerPort_", i);
    entry.overdue = reader.Int(Numbered("IsOverdue_", i), 0) != 0;
    entry.port = reader.Int(portKey, 0);
    if (!reader.Has(addressKey) && !reader.Has(portKey)) {
      if (keyless++ == 0) firstKeyless = i;
      entry.address = "localhost";
    } else {
      entry.address = reader.Address(addressKey);
      reader.Port(portKey, entry.port);
    }
    entry.offset = reader.Int(Numbered("OffSet_", i), -1);
    reader.Offset(Numbered("OffSet_", i), entry.offset);
    entry.key = entry.address + ":" + std::to_string(entry.port);
    list->entries.push_back(entry);
  }
  if (count > listed) {
    ServerEntry entry;
    entry.address = "localhost";
    entry.key = "localhost:0";
    list->entries.push_back(entry);
    if (keyless++ == 0) firstKeyless = listed;
    keyless += count - listed - 1;
  }
  if (keyless > 0)
    reader.Note("AddrCount", countText,
                "AddrCount=" + Quoted(countText) + " counts " + std::to_string(keyless) +
                    " entries with neither ServerAddr_<n> nor ServerPort_<n> (the first is " +
                    std::to_string(firstKeyless) + "): they are served at localhost:0");
}

}  // namespace

ServerList ParseServerList(const std::string& text) {
  ServerList list;
  ProfileSection profile;
  if (!profile.LoadText(text, kSection)) {
    list.why = "the parser gave up";
    return list;
  }
  Read(profile, &list);
  return list;
}

ServerList ReadServerList(const std::string& path, port::Env* env) {
  ServerList list;
  ProfileSection profile;
  if (!profile.Load(path, kSection, env, &list.why)) return list;
  Read(profile, &list);
  return list;
}

}  // namespace tessel
