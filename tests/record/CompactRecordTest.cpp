// Records held without their zeros come back byte for byte, and are small.
#include "record/CompactRecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "TestSupport.h"

using tessel::CompactRecord;
namespace rec = tessel::rec;

TEST(CompactRecordTest, ComesBackByteForByteAndHoldsLittle) {
  std::mt19937 random(7);
  std::vector<VirtualIdRecord> records(1);  // all zeros first
  VirtualIdRecord full;
  for (unsigned char& byte : full.bytes) byte = static_cast<unsigned char>(random() | 1);
  records.push_back(full);
  for (int n = 0; n < 200; ++n) {  // sparse bytes, zero runs of every length
    VirtualIdRecord sparse;
    for (int k = 0; k < 40; ++k) sparse.bytes[random() % rec::kSize] = static_cast<unsigned char>(random());
    sparse.bytes[0] = 1;
    sparse.bytes[rec::kSize - 1] = static_cast<unsigned char>(n);
    records.push_back(sparse);
  }
  for (const VirtualIdRecord& record : records) {
    const CompactRecord compact(record);
    ASSERT_EQ(std::memcmp(compact.Expand().bytes, record.bytes, rec::kSize), 0);
    ASSERT_EQ(compact.InputFlag(), record.InputFlag());
    ASSERT_EQ(compact.Text(rec::kAccount, 30), record.Text(rec::kAccount, 30));
  }

  VirtualIdRecord im = testing_support::ImRecord("4401020001_3232235786_1796696246_", 1001,
                                                 "123456789", 1796696306, 1796696306, 0);
  im.SetInt(rec::kInputFlag, 1);
  EXPECT_LT(CompactRecord(im).packedSize(), 100u);
}
