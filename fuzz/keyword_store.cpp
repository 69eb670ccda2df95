// virtualdb.db on any content: Open holds the digests of the current
// keywords of its whole records, each the text of the record's 128-byte
// keyword field up to its first NUL, and leaves a file of exactly those;
// keywords appended are read back with them; a compaction keeps the records
// of the keywords still live, in file order, and is read back as that set.
//
// Input: the store's length (2 bytes) and content, then keywords to append,
// one per line, each made current (log-on time inside the last three days).
#include <set>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "lists/KeywordSet.h"
#include "lists/KeywordStore.h"

namespace ks = tessel::keywordstore;

namespace {

const std::time_t kNow = 1796688000;

// The set holds the digests of exactly these keywords.
bool Holds(const tessel::KeywordSet& held, const std::set<std::string>& keywords) {
  if (held.size() != keywords.size()) return false;
  for (const std::string& keyword : keywords)
    if (!held.Contains(tessel::KeywordDigest::Of(keyword))) return false;
  return true;
}

std::set<std::string> CurrentOf(const std::string& content) {
  std::set<std::string> keywords;
  for (std::size_t at = 0; at + 132 <= content.size(); at += 132) {
    const std::string field = content.substr(at, 128);
    const std::string keyword = field.substr(0, field.find('\0'));
    if (ks::IsCurrent(keyword, kNow)) keywords.insert(keyword);
  }
  return keywords;
}

// The current keywords of the store's whole records.
std::set<std::string> Loaded(const std::string& path) { return CurrentOf(fuzz::ReadFile(path)); }

// The keywords of the store's whole records, in file order.
std::vector<std::string> InOrder(const std::string& path) {
  const std::string content = fuzz::ReadFile(path);
  std::vector<std::string> keywords;
  for (std::size_t at = 0; at + 132 <= content.size(); at += 132)
    keywords.push_back(ks::KeywordOfRecord(content.data() + at));
  return keywords;
}

// A keyword from a line of the input: "<unit>_<ip>_<log-on time>_<rest>".
std::string KeywordOf(const std::string& line) {
  if (line.empty()) return std::string();
  std::string ip = line.substr(1, line.size() / 2), rest = line.substr(1 + ip.size());
  for (char& c : ip) if (c == '_' || c == '\0') c = '-';
  for (char& c : rest) if (c == '\0') c = '-';
  const long long age = static_cast<unsigned char>(line[0]) * 1000LL;
  std::string keyword = "4401020001_" + ip + "_" + std::to_string(kNow - age) + "_" + rest;
  return keyword.substr(0, 128);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Reader in(data, size);
  const std::string content = in.Bytes(in.U16());
  const std::string dir = fuzz::ScratchDir() + "virtualdb/";
  const std::string path = dir + "virtualdb.db";
  fuzz::EmptyDir(fuzz::ScratchDir());
  fuzz::MakeDir(dir);
  tessel::port::Env* env = tessel::port::Env::Default();

  const std::set<std::string> expected = CurrentOf(content);
  fuzz::WriteFile(path, content);

  tessel::KeywordSet held;
  tessel::KeywordStore store(env, path);
  FUZZ_CHECK(store.Open(kNow, &held).ok());
  FUZZ_CHECK(Holds(held, expected));
  std::set<std::string> live = expected;
  FUZZ_CHECK(store.records() == live.size());
  FUZZ_CHECK(fuzz::ReadFile(path).size() == 132 * live.size());
  FUZZ_CHECK(Loaded(path) == live);

  std::vector<std::string> added;
  std::string rest = in.Rest();
  for (std::size_t start = 0; start < rest.size();) {
    std::size_t end = rest.find('\n', start);
    if (end == std::string::npos) end = rest.size();
    const std::string keyword = KeywordOf(rest.substr(start, end - start));
    start = end + 1;
    if (!ks::IsCurrent(keyword, kNow) || live.count(keyword) != 0) continue;
    added.push_back(keyword);
    live.insert(keyword);
  }
  FUZZ_CHECK(store.Append(added).ok());
  FUZZ_CHECK(store.records() == live.size());
  FUZZ_CHECK(Loaded(path) == live);

  // Every third keyword of the file stays live: once the others outnumber
  // them, a compaction leaves the records of those alone, in file order.
  const std::vector<std::string> order = InOrder(path);
  std::set<std::string> kept;
  std::string compacted;
  tessel::KeywordSet keptSet;
  for (std::size_t i = 0; i < order.size(); i += 3) {
    kept.insert(order[i]);
    keptSet.Insert(tessel::KeywordDigest::Of(order[i]), kNow + 1);
    compacted += order[i] + std::string(132 - order[i].size(), '\0');
  }
  const std::string before = fuzz::ReadFile(path);
  const bool due = order.size() - kept.size() > kept.size();
  FUZZ_CHECK(store.CompactIfDue(keptSet, kNow).ok());
  FUZZ_CHECK(fuzz::ReadFile(path) == (due ? compacted : before));
  if (due) live = kept;
  tessel::KeywordSet reopened;
  tessel::KeywordStore again(env, path);
  FUZZ_CHECK(again.Open(kNow, &reopened).ok());
  FUZZ_CHECK(Holds(reopened, live));
  return 0;
}
