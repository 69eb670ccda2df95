#include "lists/KeywordStore.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

using namespace tessel;

using testing_support::FileSize;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

const std::time_t kNow = 1800000000;

std::string Record(const std::string& keyword) {
  std::string record = keyword;
  record.resize(keywordstore::kRecordSize, '\0');
  return record;
}

std::string Keyword(long long logonTime, const std::string& account = "acc") {
  return "4401020001_3232235786_" + std::to_string(logonTime) + "_1001_" + account + "_0_1";
}

}  // namespace

TEST(KeywordStoreTest, LoadKeepsKeywordsYoungerThanThreeDays) {
  TempDir dir;
  const std::string path = dir / "virtualdb.db";
  testing_support::WriteFile(
      path, Record(Keyword(kNow - 259200, "exact")) + Record(Keyword(kNow - 259199, "younger")) +
                Record(Keyword(kNow, "new")) + std::string(100, 'x'));
  std::set<std::string> keywords;
  ASSERT_EQ(keywordstore::Load(port::Env::Default(), path, kNow, &keywords), 0);
  EXPECT_EQ(keywords,
            (std::set<std::string>{Keyword(kNow - 259199, "younger"), Keyword(kNow, "new")}));
}

TEST(KeywordStoreTest, LoadReadsWholeRecordsAndSkipsMalformedOnes) {
  TempDir dir;
  const std::string path = dir / "virtualdb.db";
  testing_support::WriteFile(path, Record(Keyword(kNow, "a")) + Record("only_two_underscores") +
                                       Record("4401020001_ip_notanumber_1001") +
                                       Record(Keyword(kNow, "a")) + Record(Keyword(kNow, "b")) +
                                       Record(Keyword(kNow, "c")).substr(0, 100));
  std::set<std::string> keywords;
  ASSERT_EQ(keywordstore::Load(port::Env::Default(), path, kNow, &keywords), 0);
  EXPECT_EQ(keywords, (std::set<std::string>{Keyword(kNow, "a"), Keyword(kNow, "b")}));
}

TEST(KeywordStoreTest, MissingFileCreatesTheDirectories) {
  TempDir dir;
  const std::string path = dir / "site/virtualdb/virtualdb.db";
  std::set<std::string> keywords;
  EXPECT_EQ(keywordstore::Load(port::Env::Default(), path, kNow, &keywords), -1);
  EXPECT_TRUE(keywords.empty());
  EXPECT_TRUE(testing_support::Exists(dir / "site/virtualdb"));
}

TEST(KeywordStoreTest, SaveWritesInOrderAndNeverShortensTheFile) {
  TempDir dir;
  const std::string path = dir / "virtualdb.db";
  std::string old;
  for (const char* name : {"k1", "k2", "k3", "k4", "k5"}) old += Record(Keyword(kNow, name));
  testing_support::WriteFile(path, old);

  ASSERT_EQ(keywordstore::Save(port::Env::Default(), path, {Keyword(kNow, "z"), Keyword(kNow, "b")}), 0);
  const std::string content = ReadFile(path);
  ASSERT_EQ(content.size(), 5 * keywordstore::kRecordSize);
  EXPECT_EQ(content.substr(0, 132), Record(Keyword(kNow, "b")));
  EXPECT_EQ(content.substr(132, 132), Record(Keyword(kNow, "z")));
  EXPECT_EQ(content.substr(264), old.substr(264));

  // A fresh file holds exactly the keywords, each padded with zero bytes.
  const std::string fresh = dir / "fresh.db";
  ASSERT_EQ(keywordstore::Save(port::Env::Default(), fresh, {Keyword(kNow)}), 0);
  EXPECT_EQ(ReadFile(fresh), Record(Keyword(kNow)));
  EXPECT_EQ(keywordstore::Save(port::Env::Default(), dir / "missing/x.db", {Keyword(kNow)}), -1);
}
