// The intake journal: records read back in the order they were appended,
// across its two files, after a crash that tore the last entry, and only
// the records not yet let go of, also from a file written over.
#include "lists/IntakeJournal.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "TestSupport.h"

using namespace tessel;
using testing_support::ImRecord;
using testing_support::TempDir;

namespace {

VirtualIdRecord Numbered(int n) { return ImRecord("U_1_2_", 1001, std::to_string(n), n, n, 0); }

std::vector<int> Reopen(const std::string& dir) {
  IntakeJournal journal(port::Env::Default(), dir);
  std::vector<VirtualIdRecord> records;
  EXPECT_TRUE(journal.Open(&records).ok());
  std::vector<int> numbers;
  for (const VirtualIdRecord& record : records)
    numbers.push_back(std::stoi(record.Text(rec::kAccount, 30)));
  return numbers;
}

}  // namespace

TEST(IntakeJournalTest, RecordsComeBackInOrderUntilLetGo) {
  TempDir dir;
  {
    IntakeJournal journal(port::Env::Default(), dir.path());
    std::vector<VirtualIdRecord> none;
    ASSERT_TRUE(journal.Open(&none).ok());
    EXPECT_TRUE(none.empty());
    for (int n : {1, 2, 3}) ASSERT_TRUE(journal.Append(Numbered(n)).ok());
    const std::uint64_t mark = journal.Take();  // 1-3 taken; appends go to the other file
    for (int n : {4, 5}) ASSERT_TRUE(journal.Append(Numbered(n)).ok());
    EXPECT_EQ(Reopen(dir.path()), (std::vector<int>{1, 2, 3, 4, 5}));
    ASSERT_TRUE(journal.Release(mark).ok());
    EXPECT_EQ(Reopen(dir.path()), (std::vector<int>{4, 5}));
  }
  // A journal reopened with records in both files: the older file is let go
  // of after the next pass, the newer one after the pass after it.
  IntakeJournal journal(port::Env::Default(), dir.path());
  std::vector<VirtualIdRecord> left;
  ASSERT_TRUE(journal.Open(&left).ok());
  ASSERT_EQ(left.size(), 2u);
  ASSERT_TRUE(journal.Append(Numbered(6)).ok());
  ASSERT_TRUE(journal.Release(journal.Take()).ok());
  EXPECT_TRUE(Reopen(dir.path()).empty());
}

TEST(IntakeJournalTest, AnEmptiedFileIsWrittenOverFromItsStartAndWhatItHeldStaysGone) {
  TempDir dir;
  const std::string first = IntakeJournal::FileName(dir.path(), 0);
  const long entry = static_cast<long>(IntakeJournal::kEntrySize);
  IntakeJournal journal(port::Env::Default(), dir.path());
  std::vector<VirtualIdRecord> none;
  ASSERT_TRUE(journal.Open(&none).ok());
  for (int n : {1, 2, 3}) ASSERT_TRUE(journal.Append(Numbered(n)).ok());
  ASSERT_TRUE(journal.Release(journal.Take()).ok());
  EXPECT_EQ(testing_support::FileSize(first), 3 * entry);  // its blocks are kept
  ASSERT_TRUE(journal.Append(Numbered(4)).ok());           // into the other file
  journal.Take();                                          // appends go back to the first
  ASSERT_TRUE(journal.Append(Numbered(5)).ok());
  EXPECT_EQ(testing_support::FileSize(first), 3 * entry);
  // 2 and 3, behind 5, are of the round let go of.
  EXPECT_EQ(Reopen(dir.path()), (std::vector<int>{4, 5}));
  // A stop gives the room of the emptied files back.
  ASSERT_TRUE(journal.Release(journal.Take()).ok());
  journal.Trim();
  EXPECT_EQ(testing_support::FileSize(first), 0);
  EXPECT_EQ(testing_support::FileSize(IntakeJournal::FileName(dir.path(), 1)), 0);
}

TEST(IntakeJournalTest, ATornOrDamagedEntryEndsTheRecordsOfItsFile) {
  TempDir dir;
  const std::string first = IntakeJournal::FileName(dir.path(), 0);
  {
    IntakeJournal journal(port::Env::Default(), dir.path());
    std::vector<VirtualIdRecord> none;
    ASSERT_TRUE(journal.Open(&none).ok());
    for (int n : {1, 2}) ASSERT_TRUE(journal.Append(Numbered(n)).ok());
  }
  const std::string whole = testing_support::ReadFile(first);
  testing_support::AppendFile(first, whole.substr(0, 600));  // a crash mid-append
  EXPECT_EQ(Reopen(dir.path()), (std::vector<int>{1, 2}));
  EXPECT_EQ(testing_support::FileSize(first), static_cast<long>(whole.size()));

  {
    IntakeJournal journal(port::Env::Default(), dir.path());
    std::vector<VirtualIdRecord> left;
    ASSERT_TRUE(journal.Open(&left).ok());
    ASSERT_TRUE(journal.Append(Numbered(3)).ok());  // goes on after the cut
  }
  EXPECT_EQ(Reopen(dir.path()), (std::vector<int>{1, 2, 3}));

  std::string damaged = testing_support::ReadFile(first);
  damaged[IntakeJournal::kEntrySize + 100] ^= 0x01;  // a bit of the second entry
  testing_support::WriteFile(first, damaged);
  EXPECT_EQ(Reopen(dir.path()), (std::vector<int>{1}));
}

TEST(IntakeJournalTest, AnEntryNumberedLastOfAllEndsTheRecordsOfItsFile) {
  // Whole and with a matching CRC, but numbered 2^64 - 1: a record appended
  // after it could get no higher number and would come back first.
  TempDir dir;
  std::string entry = "TIJ1" + std::string(8, '\xff');
  const VirtualIdRecord record = Numbered(7);
  entry.append(reinterpret_cast<const char*>(record.bytes), rec::kSize);
  const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(entry.data()) + 4, 8 + rec::kSize);
  for (int i = 0; i < 4; ++i) entry += static_cast<char>(crc >> (8 * i));
  ASSERT_EQ(entry.size(), IntakeJournal::kEntrySize);
  testing_support::WriteFile(IntakeJournal::FileName(dir.path(), 0), entry);
  {
    IntakeJournal journal(port::Env::Default(), dir.path());
    std::vector<VirtualIdRecord> left;
    ASSERT_TRUE(journal.Open(&left).ok());
    EXPECT_TRUE(left.empty());
    ASSERT_TRUE(journal.Append(Numbered(8)).ok());
  }
  EXPECT_EQ(Reopen(dir.path()), (std::vector<int>{8}));
}
