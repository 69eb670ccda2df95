#include "lists/KeywordStore.h"

#include "lists/KeywordSet.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "KeywordStoreContent.h"
#include "TestEnv.h"
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

// The digests held are those of exactly these keywords.
::testing::AssertionResult Holds(const KeywordSet& held, const std::set<std::string>& keywords) {
  if (held.size() != keywords.size())
    return ::testing::AssertionFailure() << held.size() << " held, " << keywords.size() << " expected";
  for (const std::string& keyword : keywords)
    if (!held.Contains(KeywordDigest::Of(keyword)))
      return ::testing::AssertionFailure() << keyword << " not held";
  return ::testing::AssertionSuccess();
}

KeywordSet SetOf(const std::set<std::string>& keywords) {
  KeywordSet set;
  for (const std::string& keyword : keywords) set.Insert(KeywordDigest::Of(keyword), kNow + 1);
  return set;
}

}  // namespace

TEST(KeywordStoreTest, LoadKeepsKeywordsYoungerThanThreeDays) {
  TempDir dir;
  const std::string path = dir / "virtualdb.db";
  testing_support::WriteFile(
      path, Record(Keyword(kNow - 259200, "exact")) + Record(Keyword(kNow - 259199, "younger")) +
                Record(Keyword(kNow, "new")) + std::string(100, 'x'));
  std::set<std::string> keywords;
  ASSERT_TRUE(testing_support::LoadKeywordStore(port::Env::Default(), path, kNow, &keywords).ok());
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
  ASSERT_TRUE(testing_support::LoadKeywordStore(port::Env::Default(), path, kNow, &keywords).ok());
  EXPECT_EQ(keywords, (std::set<std::string>{Keyword(kNow, "a"), Keyword(kNow, "b")}));
}

TEST(KeywordStoreTest, AKeywordIsTheTextOfItsFieldAlone) {
  // A damaged record whose keyword field has no NUL: its text is the 128
  // bytes of the field, not the four bytes after it too, so that a rewrite
  // (which writes at most 128 bytes) loads back the same keyword. The
  // expired record after it makes the opening rewrite the store.
  TempDir dir;
  const std::string path = dir / "virtualdb.db";
  std::string full = Keyword(kNow, std::string(128, 'x')).substr(0, 128);
  testing_support::WriteFile(path, full + "zzzz" + Record(Keyword(kNow - 259200, "old")));
  KeywordSet keywords;
  KeywordStore store(port::Env::Default(), path);
  ASSERT_TRUE(store.Open(kNow, &keywords).ok());
  EXPECT_TRUE(Holds(keywords, {full}));
  EXPECT_EQ(ReadFile(path), Record(full));
  std::set<std::string> again;
  ASSERT_TRUE(testing_support::LoadKeywordStore(port::Env::Default(), path, kNow, &again).ok());
  EXPECT_EQ(again, std::set<std::string>{full});
}

TEST(KeywordStoreTest, MissingFileCreatesTheDirectories) {
  TempDir dir;
  const std::string path = dir / "site/virtualdb/virtualdb.db";
  std::set<std::string> keywords;
  EXPECT_TRUE(testing_support::LoadKeywordStore(port::Env::Default(), path, kNow, &keywords).IsNotFound());
  EXPECT_TRUE(keywords.empty());
  EXPECT_TRUE(testing_support::Exists(dir / "site/virtualdb"));
}

std::string Records(std::initializer_list<std::string> keywords) {
  std::string content;
  for (const std::string& keyword : keywords) content += Record(keyword);
  return content;
}

// New keywords are appended, a batch in one write; a store in order is
// read back as it is and not rewritten.
TEST(KeywordStoreTest, AppendsAndReadsBack) {
  TempDir dir;
  const std::string path = dir / "site/virtualdb/virtualdb.db";
  const std::string a = Keyword(kNow, "a"), b = Keyword(kNow, "b"), c = Keyword(kNow, "c");
  KeywordStore store(port::Env::Default(), path);
  KeywordSet keywords;
  EXPECT_TRUE(store.Open(kNow, &keywords).IsNotFound());
  ASSERT_TRUE(store.Append({b, a}).ok());
  ASSERT_TRUE(store.Append({c}).ok());
  EXPECT_EQ(ReadFile(path), Records({b, a, c}));
  EXPECT_EQ(store.records(), 3u);

  KeywordStore again(port::Env::Default(), path);
  EXPECT_TRUE(again.Open(kNow, &keywords).ok());
  EXPECT_TRUE(Holds(keywords, {a, b, c}));
  EXPECT_EQ(ReadFile(path), Records({b, a, c}));
}

// Expired and repeated records, leftovers of the old whole-file save and a
// torn tail: the keywords load as before and the store is rewritten with
// the current ones alone, each once, in the order they were written.
TEST(KeywordStoreTest, OpenRewritesAStoreWithDeadRecords) {
  TempDir dir;
  const std::string path = dir / "virtualdb.db";
  const std::string a = Keyword(kNow, "a"), b = Keyword(kNow, "b");
  testing_support::WriteFile(path, Records({b, Keyword(kNow - 259200, "old"), a, b}) +
                                       Record(Keyword(kNow, "torn")).substr(0, 50));
  std::set<std::string> reference;
  KeywordSet loaded;
  ASSERT_TRUE(testing_support::LoadKeywordStore(port::Env::Default(), path, kNow, &reference).ok());
  KeywordStore store(port::Env::Default(), path);
  ASSERT_TRUE(store.Open(kNow, &loaded).ok());
  EXPECT_TRUE(Holds(loaded, reference));
  EXPECT_EQ(ReadFile(path), Records({b, a}));
  EXPECT_FALSE(testing_support::Exists(path + ".tmp"));
}

TEST(KeywordStoreTest, CompactsWhenDeadRecordsOutnumberLiveOnes) {
  TempDir dir;
  const std::string path = dir / "virtualdb.db";
  const std::string a = Keyword(kNow, "a"), b = Keyword(kNow, "b"), c = Keyword(kNow, "c");
  KeywordStore store(port::Env::Default(), path);
  ASSERT_TRUE(store.Append({a, b, c}).ok());
  ASSERT_TRUE(store.CompactIfDue(SetOf({a, b}), kNow).ok());  // one dead of three: kept
  EXPECT_EQ(store.records(), 3u);
  ASSERT_TRUE(store.CompactIfDue(SetOf({c}), kNow).ok());
  EXPECT_EQ(ReadFile(path), Records({c}));
  ASSERT_TRUE(store.Append({a}).ok());
  EXPECT_EQ(ReadFile(path), Records({c, a}));
}

// A disk that fills up: an append cut short leaves whole records only, and
// a rewrite that cannot be finished leaves the old store as it was.
TEST(KeywordStoreTest, FaultsLeaveWholeRecords) {
  TempDir dir;
  const std::string path = dir / "virtualdb.db";
  const std::string a = Keyword(kNow, "a"), b = Keyword(kNow, "b"), c = Keyword(kNow, "c");
  testing_support::FaultEnv disk;
  KeywordStore store(&disk, path);
  ASSERT_TRUE(store.Append({a}).ok());
  disk.ShortWrite("virtualdb.db", 200);
  EXPECT_EQ(store.Append({b, c}).error(), ENOSPC);
  EXPECT_EQ(ReadFile(path), Records({a}));
  ASSERT_TRUE(store.Append({b}).ok());
  EXPECT_EQ(ReadFile(path), Records({a, b}));

  ASSERT_TRUE(store.Append({c}).ok());
  disk.Fail(testing_support::FaultEnv::kWrite, ".tmp", ENOSPC);
  EXPECT_FALSE(store.CompactIfDue(SetOf({b}), kNow).ok());
  EXPECT_EQ(ReadFile(path), Records({a, b, c}));
  EXPECT_FALSE(testing_support::Exists(path + ".tmp"));
}
