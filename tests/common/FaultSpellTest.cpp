#include "common/FaultSpell.h"

#include <gtest/gtest.h>

using tessel::FaultSpell;

// A spell begins once however often it fails, keeps the reason and time of
// its beginning, counts its failures, and ends once; the next spell starts
// its count again.
TEST(FaultSpellTest, BeginsAndEndsOncePerSpell) {
  FaultSpell spell;
  EXPECT_FALSE(spell.Succeeded());
  EXPECT_FALSE(spell.failing());

  EXPECT_TRUE(spell.Failed("disk full", 100));
  EXPECT_FALSE(spell.Failed("read-only", 200));
  EXPECT_FALSE(spell.Failed());
  EXPECT_TRUE(spell.failing());
  EXPECT_EQ(spell.reason(), "disk full");
  EXPECT_EQ(spell.since(), 100);
  EXPECT_EQ(spell.count(), 3u);

  EXPECT_TRUE(spell.Succeeded());
  EXPECT_FALSE(spell.Succeeded());
  EXPECT_FALSE(spell.failing());
  EXPECT_EQ(spell.reason(), "");
  EXPECT_EQ(spell.since(), 0);
  EXPECT_EQ(spell.count(), 3u);  // what the line that ends the spell tells

  EXPECT_TRUE(spell.Failed("again", 300));
  EXPECT_EQ(spell.count(), 1u);
  EXPECT_EQ(spell.reason(), "again");
}
