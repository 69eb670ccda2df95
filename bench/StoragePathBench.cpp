// Costs on the list thread and the sender threads, per record.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <set>
#include <vector>
#include <string>

#include "forward/NetlogConvert.h"
#include "record/RiaBaseFile.h"
#include "KeywordStoreContent.h"
#include "lists/KeywordStore.h"

using namespace tessel;

namespace {

std::string TempDirectory() {
  char pattern[] = "/tmp/tessel-bench-XXXXXX";
  return ::mkdtemp(pattern);
}

std::set<std::string> Keywords(int n) {
  std::set<std::string> keywords;
  for (int i = 0; i < n; ++i)
    keywords.insert("4401020001_16777343_1796696246_1001_" + std::to_string(100000 + i) +
                    "_1796696306_1");
  return keywords;
}

VirtualIdRecord ImRecord(int i) {
  VirtualIdRecord record;
  record.SetText(rec::kPrefix, rec::kPrefixWidth, "4401020001_16777343_1796696246_");
  record.SetInt(rec::kInfoType, 1001);
  record.SetText(rec::kAccount, rec::kAccountWidth, std::to_string(100000 + i));
  record.SetInt(rec::kBeginTime, 1796696306);
  record.SetInt(rec::kInputFlag, 1);
  return record;
}

// A pass's new keywords appended to the store, 256 at a time: the cost does
// not grow with the store.
void BM_KeywordStoreAppend(benchmark::State& state) {
  const std::string dir = TempDirectory();
  KeywordStore store(tessel::port::Env::Default(), dir + "/virtualdb.db");
  const std::set<std::string> all = Keywords(256);
  const std::vector<std::string> batch(all.begin(), all.end());
  for (auto _ : state) benchmark::DoNotOptimize(store.Append(batch).ok());
  state.SetItemsProcessed(state.iterations() * 256);
  ::unlink((dir + "/virtualdb.db").c_str());
  ::rmdir(dir.c_str());
}
BENCHMARK(BM_KeywordStoreAppend);

void BM_KeywordStoreLoad(benchmark::State& state) {
  const std::string dir = TempDirectory();
  testing_support::WriteKeywordStore(tessel::port::Env::Default(), dir + "/virtualdb.db",
                                     Keywords(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    std::set<std::string> loaded;
    testing_support::LoadKeywordStore(tessel::port::Env::Default(), dir + "/virtualdb.db", 1796696306, &loaded);
    benchmark::DoNotOptimize(loaded);
  }
  ::unlink((dir + "/virtualdb.db").c_str());
  ::rmdir(dir.c_str());
}
BENCHMARK(BM_KeywordStoreLoad)->Arg(10000);

// One record appended with open, write and close, as every stored record is.
void BM_AppendRecord(benchmark::State& state) {
  const std::string dir = TempDirectory();
  const VirtualIdRecord record = ImRecord(1);
  for (auto _ : state) benchmark::DoNotOptimize(AppendRecord(tessel::port::Env::Default(), dir + "/day.RiaBase", record).ok());
  state.SetBytesProcessed(state.iterations() * static_cast<long>(rec::kSize));
  ::unlink((dir + "/day.RiaBase").c_str());
  ::rmdir(dir.c_str());
}
BENCHMARK(BM_AppendRecord);

void BM_ConvertRecord(benchmark::State& state) {
  const VirtualIdRecord record = ImRecord(1);
  netlog_st out;
  NetlogItemTexts texts;
  for (auto _ : state) benchmark::DoNotOptimize(ConvertRecordToNetlog(record, 1, &out, &texts));
}
BENCHMARK(BM_ConvertRecord);

}  // namespace
