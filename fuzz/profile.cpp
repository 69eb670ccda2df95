// The netbarcfg.ini reader on any text: it reads every text, GetInt and
// GetString answer for any key, and a key written as Key=Value on its own
// line in [P2PVIRTUALID] (any case) after the text is read back, by its name
// in any case, when the text holds no key of that name.
//
// Input: the text of the file.
#include <cctype>
#include <string>

#include "FuzzSupport.h"
#include "forward/Profile.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

void AskTheUsualKeys(const tessel::ProfileSection& profile) {
  profile.GetInt("AddrCount", 0);
  for (int i = 0; i < 3; ++i) {
    const std::string n = std::to_string(i);
    FUZZ_CHECK(profile.GetString("ServerAddr_" + n, "localhost", 30).size() <= 30);
    profile.GetInt("ServerPort_" + n, 0);
    profile.GetInt("OffSet_" + n, -1);
    profile.GetInt("IsOverdue_" + n, 0);
  }
  FUZZ_CHECK(profile.GetString("", "", 0).empty());
  FUZZ_CHECK(profile.GetInt("no=key", 12345) == 12345);  // a name never holds "="
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  tessel::ProfileSection profile;
  FUZZ_CHECK(profile.LoadText(text, "P2PVIRTUALID"));
  AskTheUsualKeys(profile);

  // A key name the text does not hold, and a value that varies with it.
  const std::string lower = Lower(text);
  std::string key;
  for (int n = 0;; ++n) {
    key = "ProbeKey" + std::to_string(n);
    if (lower.find(Lower(key)) == std::string::npos) break;
  }
  unsigned hash = 2166136261u;
  for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
  const int value = static_cast<int>(hash);
  const std::string section = hash & 1 ? "[P2PVIRTUALID]" : "[p2pVirtualId]";
  FUZZ_CHECK(profile.LoadText(text + "\n" + section + "\n" + key + "=" + std::to_string(value) + "\n",
                              "P2PVIRTUALID"));
  FUZZ_CHECK(profile.GetInt(key, ~value) == value);
  FUZZ_CHECK(profile.GetInt(Upper(key), ~value) == value);
  FUZZ_CHECK(profile.GetString(Lower(key), "", 64) == std::to_string(value));
  AskTheUsualKeys(profile);
  return 0;
}
