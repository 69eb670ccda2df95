// The digests of the keywords in memory: exact through growth and removals,
// and small.
#include "lists/KeywordSet.h"

#include <gtest/gtest.h>

#include <string>

using tessel::KeywordDigest;
using tessel::KeywordSet;

namespace {

std::string Keyword(int n) {
  return "4401020001_3232235786_1796696246_1001_" + std::to_string(n) + "_1796696306_1";
}

}  // namespace

TEST(KeywordSetTest, HoldsExactlyWhatWasAddedUntilItsTimeComes) {
  KeywordSet set;
  const int kCount = 50000;
  for (int n = 0; n < kCount; ++n)
    ASSERT_TRUE(set.Insert(KeywordDigest::Of(Keyword(n)), n % 2 == 0 ? 100 : 200));
  EXPECT_FALSE(set.Insert(KeywordDigest::Of(Keyword(7)), 300));  // there already
  EXPECT_EQ(set.size(), static_cast<std::size_t>(kCount));
  EXPECT_FALSE(set.Contains(KeywordDigest::Of(Keyword(kCount))));
  // 20 bytes a slot, at most 70% full after growing: under 64 bytes each.
  const std::size_t tableBytes = set.slots() * (sizeof(KeywordDigest) + sizeof(std::uint32_t));
  EXPECT_LT(tableBytes / set.size(), 64u);

  EXPECT_EQ(set.Expire(99), 0u);
  EXPECT_EQ(set.Expire(100), static_cast<std::size_t>(kCount / 2));
  for (int n = 0; n < kCount; ++n)
    ASSERT_EQ(set.Contains(KeywordDigest::Of(Keyword(n))), n % 2 == 1) << n;
  EXPECT_TRUE(set.Erase(KeywordDigest::Of(Keyword(1))));
  EXPECT_FALSE(set.Erase(KeywordDigest::Of(Keyword(1))));
  EXPECT_EQ(set.Expire(200), static_cast<std::size_t>(kCount / 2 - 1));
  EXPECT_EQ(set.size(), 0u);
}
