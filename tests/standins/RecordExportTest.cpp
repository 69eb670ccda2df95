#include "RecordExport.h"

#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"
#include "RecordExportReader.h"

using namespace tessel;

using testing_support::ImRecord;
using testing_support::ReadFile;
using testing_support::SeatRecord;
using testing_support::TempDir;

namespace {

int Export(const std::string& path, const std::string& unit, const VirtualIdRecord& record) {
  const std::string head = unit.substr(0, 2);
  const std::string tail = unit.size() > 2 ? unit.substr(2) : "";
  return tagSepExporttoFile(path.c_str(), unit.c_str(), head.c_str(), tail.c_str(),
                            record.bytes, static_cast<int>(rec::kSize));
}

}  // namespace

TEST(RecordExportTest, EachCallAppendsOneReadableLine) {
  TempDir dir;
  const std::string path = dir / "out.OLV";
  VirtualIdRecord im = ImRecord("4401020001_3232235786_1700000000_", 1001, "12345", 10, 20, 0);
  im.bytes[1246] = 0xAB;
  VirtualIdRecord seat = SeatRecord("4401020001_3232235786_1700000000_", std::string(40, 'r'),
                                    1700000000, 0, 3232235786u);
  ASSERT_EQ(Export(path, "4401020001", im), 0);
  ASSERT_EQ(Export(path, "4401020001", seat), 0);

  const std::string content = ReadFile(path);
  const std::string::size_type firstEnd = content.find("\r\n");
  ASSERT_NE(firstEnd, std::string::npos);
  const std::string first = content.substr(0, firstEnd);
  // Readable fields, then the record in lowercase hex.
  const std::string head = "4401020001\t44\t01020001\t1001\t4401020001_3232235786_1700000000_\t12345\t";
  ASSERT_EQ(first.substr(0, head.size()), head);
  const std::string hex = first.substr(head.size());
  ASSERT_EQ(hex.size(), 2494u);
  EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(hex.substr(2492), "ab");
  // The second line: a 30-byte account instead of 5, type 900 instead of 1001.
  EXPECT_EQ(content.size(), 2 * (firstEnd + 2) + (30 - 5) - 1);

  std::vector<RecordExportEntry> entries;
  ASSERT_TRUE(ReadRecordExportFile(path, &entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].unitHead, "44");
  EXPECT_EQ(entries[0].unitTail, "01020001");
  EXPECT_EQ(entries[0].infoType, 1001);
  EXPECT_EQ(std::memcmp(entries[0].record.bytes, im.bytes, rec::kSize), 0);
  EXPECT_EQ(entries[1].infoType, 900);
  EXPECT_EQ(entries[1].account, std::string(30, 'r'));  // a seat account is 30 bytes
  EXPECT_EQ(std::memcmp(entries[1].record.bytes, seat.bytes, rec::kSize), 0);
}

TEST(RecordExportTest, ControlBytesInTextsNeverSplitTheLine) {
  TempDir dir;
  const std::string path = dir / "out.ria";
  VirtualIdRecord record = ImRecord("44\t01_1\r\n_2_", 1002, "a\tb\nc\xb0\xa1", 0, 0, 0);
  ASSERT_EQ(tagSepExporttoFile(path.c_str(), "44\t1", "44", "\t1", record.bytes, 1247), 0);

  const std::string content = ReadFile(path);
  EXPECT_EQ(content.find('\n'), content.size() - 1);
  EXPECT_EQ(content.find('\r'), content.size() - 2);
  std::vector<RecordExportEntry> entries;
  ASSERT_TRUE(ReadRecordExportFile(path, &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].unit, "44 1");
  EXPECT_EQ(entries[0].unitTail, " 1");
  EXPECT_EQ(entries[0].prefix, "44 01_1  _2_");
  EXPECT_EQ(entries[0].account, "a b c\xb0\xa1");  // GBK bytes pass unchanged
  EXPECT_EQ(std::memcmp(entries[0].record.bytes, record.bytes, rec::kSize), 0);
}

TEST(RecordExportTest, WrongInputWritesNothing) {
  TempDir dir;
  const std::string path = dir / "out.ria";
  VirtualIdRecord record;
  EXPECT_NE(tagSepExporttoFile(path.c_str(), "44", "44", "", record.bytes, 1246), 0);
  EXPECT_NE(tagSepExporttoFile(path.c_str(), "44", "44", "", nullptr, 1247), 0);
  EXPECT_NE(tagSepExporttoFile((dir / "missing/out.ria").c_str(), "44", "44", "", record.bytes,
                               1247),
            0);
  EXPECT_FALSE(testing_support::Exists(path));
  // Empty texts still give seven fields.
  ASSERT_EQ(tagSepExporttoFile(path.c_str(), "", "", "", record.bytes, 1247), 0);
  std::vector<RecordExportEntry> entries;
  ASSERT_TRUE(ReadRecordExportFile(path, &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].unit, "");
}

TEST(RecordExportTest, ReaderRejectsMalformedLines) {
  RecordExportEntry entry;
  const std::string hex(2494, '0');
  EXPECT_TRUE(ParseRecordExportLine("u\tu\t\t7\tp\ta\t" + hex + "\r\n", &entry));
  EXPECT_EQ(entry.infoType, 7);
  EXPECT_FALSE(ParseRecordExportLine("u\tu\t7\tp\ta\t" + hex, &entry));          // six fields
  EXPECT_FALSE(ParseRecordExportLine("u\tu\t\tx\tp\ta\t" + hex, &entry));        // type
  EXPECT_FALSE(ParseRecordExportLine("u\tu\t\t7\tp\ta\t" + hex.substr(1), &entry));
  EXPECT_FALSE(ParseRecordExportLine("u\tu\t\t7\tp\ta\t" + hex.substr(2) + "zz", &entry));
}
