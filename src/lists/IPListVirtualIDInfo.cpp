#include "lists/IPListVirtualIDInfo.h"

#include <exception>

#include "RecordExport.h"
#include "common/Console.h"
#include "common/GiveWay.h"
#include "common/SiteFiles.h"
#include "record/RiaBaseFile.h"

namespace rec = tessel::rec;
using tessel::ConsolePrintf;

IPListVirtualIDInfo::IPListVirtualIDInfo(tessel::port::Env* env, int drainIntervalMs,
                                         const tessel::WriteOptions& options)
    : tessel::StoppableThread(env), env(env), intake_(env, options),
      drainIntervalMs(drainIntervalMs),
      durable_(options.durability == tessel::Durability::kPower) {}

IPListVirtualIDInfo::~IPListVirtualIDInfo() {}

void IPListVirtualIDInfo::run() {
  Initialize();
  for (;;) {
    // Read the flag before the pass: what was queued when Stop came is
    // applied by this pass, then the thread ends.
    const bool last = StopRequested();
    bool stored = DrainPass();
    if (last) {
      // What a pass could not store yet (a record to apply again, records
      // written but not yet synced) gets a few more passes before the end;
      // what is left stays in the intake journal for the next start.
      for (int more = 0; more < kLastPasses && !stored; ++more) stored = DrainPass();
      return;
    }
    intake_.WaitForPass(drainIntervalMs);
  }
}

bool IPListVirtualIDInfo::DrainPass() {
  const std::int64_t startMs = env->NowMillis();
  lastPassAt_.store(env->NowSeconds(), std::memory_order_relaxed);
  const std::uint64_t mark = intake_.Take(&taken_);
  // What an earlier pass could not apply comes first, in its place.
  if (!carried_.empty()) {
    carried_.insert(carried_.end(), taken_.begin(), taken_.end());
    taken_.swap(carried_);
    carried_.clear();
  }
  std::size_t applied = 0;
  {
    std::unique_lock<std::shared_mutex> guard(lock);
    inPass_ = true;
    for (; applied < taken_.size(); ++applied) {
      if (applied % tessel::kRecordsPerGiveWayLook == 0) tessel::GiveWayIfDue();
      std::string failure;
      try {
        UpdateList(taken_[applied]);
        continue;
      } catch (const std::exception& e) {
        failure = e.what();
      } catch (...) {
        failure = "an unknown failure";
      }
      if (!SetAsideIfStuck(taken_[applied], failure, taken_.size() - applied)) break;
    }
    inPass_ = false;
  }
  // The pass ends at a record that could not be applied: it and every
  // record after it wait for the next pass, and the journal keeps them.
  carried_.assign(taken_.begin() + static_cast<std::ptrdiff_t>(applied), taken_.end());
  const bool stored = FinishPass() && carried_.empty();
  tessel::ConsoleFlush();
  intake_.PassDone(mark, stored, HeldRecords() + carried_.size());
  AfterPass(stored);
  lastPassMs_.store(env->NowMillis() - startMs, std::memory_order_relaxed);
  return stored;
}

bool IPListVirtualIDInfo::SetAsideIfStuck(const VirtualIdRecord& record,
                                          const std::string& failure, std::size_t waiting) {
  const std::string bytes(reinterpret_cast<const char*>(record.bytes), rec::kSize);
  failuresInRow_ = bytes == stuck_ ? failuresInRow_ + 1 : 1;
  stuck_ = bytes;
  std::string ipKey;
  tessel::GetIpKey(record.Prefix(), &ipKey);
  if (failuresInRow_ < kSetAsideAfterFailures) {
    tessel::LogLine("a record of IP key \"%s\" could not be applied (%s); it and the %zu records "
                    "after it wait for the next pass",
                    tessel::Printable(ipKey).c_str(), failure.c_str(), waiting - 1);
    return false;
  }
  // Failing pass after pass, it must not hold every record behind it.
  if (!unappliedPath_.empty()) {
    tessel::port::Status kept = tessel::AppendRecord(env, unappliedPath_, record);
    if (kept.ok() && durable_) {
      std::unique_ptr<tessel::port::File> file;
      kept = env->OpenFile(unappliedPath_, tessel::port::File::kAppend, &file);
      if (kept.ok()) kept = file->Sync();
      if (kept.ok()) kept = env->SyncDir(tessel::DirOf(unappliedPath_));
    }
    if (!kept.ok()) {
      tessel::LogLine("a record of IP key \"%s\" could not be applied %d times (%s) and cannot be "
                      "set aside (%s); it waits",
                      tessel::Printable(ipKey).c_str(), failuresInRow_, failure.c_str(),
                      kept.ToString().c_str());
      return false;
    }
  }
  unapplied_.fetch_add(1, std::memory_order_relaxed);
  failuresInRow_ = 0;
  stuck_.clear();
  tessel::LogLine("a record of IP key \"%s\" could not be applied %d times (%s); it is set aside "
                  "in %s and the records after it go on",
                  tessel::Printable(ipKey).c_str(), kSetAsideAfterFailures, failure.c_str(),
                  unappliedPath_.empty() ? "no file (nothing is stored here)"
                                         : unappliedPath_.c_str());
  return true;
}

void IPListVirtualIDInfo::OpenIntakeJournal(const std::string& dir) {
  unappliedPath_ = tessel::JoinPath(dir, tessel::kUnappliedFileName);
  intake_.Open(dir);
}

tessel::Receipt IPListVirtualIDInfo::AddNetLog(const VirtualIdRecord& record,
                                               const char* identity) {
  const tessel::Receipt receipt = intake_.Add(record);
  if (receipt.status.ok()) SetUnitIdentity(identity ? identity : "");
  return receipt;
}

void IPListVirtualIDInfo::SetUnitIdentity(const std::string& identity) {
  std::lock_guard<std::mutex> guard(identityLock);
  if (unitIdentity != identity) unitIdentity = identity;
}

void IPListVirtualIDInfo::Stop() { RequestStop(); }

void IPListVirtualIDInfo::OnStopRequested() {
  // Nothing accepted from now on could be applied before the thread ends:
  // the intake refuses it, and the last pass takes all it accepted.
  intake_.Close();
  intake_.Wake();
}

namespace {

// The list thread's lines, one for each line of the lists.
const char* LineText(tessel::SeatLists::Line line) {
  typedef tessel::SeatLists L;
  switch (line) {
    case L::kOnNewSeat: return "this ->PutNetLogOnToP2P(UpdateList) .\r\n";
    case L::kOffUnlistedSeat: return "this ->PutNetLogOffToP2P(UpdateList) .\r\n";
    case L::kOffWholeSeat: return "this ->PutNetLogOff - 2 ToP2P(UpdateList) .\r\n";
    case L::kOffBeforeLogon:
      return "this ->PutNetLogOffToP2P(UpdateListForOneIP) for REALNAME_LOGON .\r\n";
    case L::kOnListedSeat: return "this ->PutNetLogOnToP2P(UpdateListForOneIP) .\r\n";
    case L::kOffSeatCleared:
      return "this ->PutNetLogOffToP2P(UpdateListForOneIP) for REALNAME_LOGOFF .\r\n";
    case L::kOffImLogoff:
      return "this ->PutNetLogOffToP2P(UpdateListForOneIP) for IM_LOGOFF .\r\n";
  }
  return "";
}

}  // namespace

void IPListVirtualIDInfo::RestoreLists(tessel::SeatLists lists) {
  {
    std::unique_lock<std::shared_mutex> guard(lock);
    lists_ = std::move(lists);
  }
  {
    std::lock_guard<std::mutex> guard(restoredLock_);
    restoredLeft_ = intake_.ForEachQueued(nullptr);
  }
  ListsRestored();
}

bool IPListVirtualIDInfo::WaitForRestoredRecords(int milliseconds) {
  if (restoredLeft_.load() == 0) return true;
  std::unique_lock<std::mutex> guard(restoredLock_);
  return env->WaitFor(restoredApplied_, guard, milliseconds,
                      [this] { return restoredLeft_.load() == 0; });
}

void IPListVirtualIDInfo::NoteApplied() {
  if (restoredLeft_.load() == 0) return;
  std::lock_guard<std::mutex> guard(restoredLock_);
  if (restoredLeft_ > 0 && --restoredLeft_ == 0) restoredApplied_.notify_all();
}

void IPListVirtualIDInfo::PutOutcome(VirtualIdRecord& input,
                                     const tessel::SeatLists::Outcome& out) {
  std::size_t line = tessel::DiagnosticLinesOn() ? 0 : out.lines.size();
  for (std::size_t i = 0; i <= out.puts.size(); ++i) {
    for (; line < out.lines.size() && out.lines[line].first == i; ++line)
      ConsolePrintf("%s", LineText(out.lines[line].second));
    if (i == out.puts.size()) break;
    const tessel::SeatLists::Put& put = out.puts[i];
    if (put.input) {
      PutNetLogToP2P(input, put.flag);
    } else {
      VirtualIdRecord stored = put.record;
      PutNetLogToP2P(stored, put.flag);
    }
  }
}

void IPListVirtualIDInfo::UpdateList(VirtualIdRecord& record) {
  // The lists hold the record once Apply returns, whatever the hook does.
  struct Applied {
    IPListVirtualIDInfo* list;
    ~Applied() { list->NoteApplied(); }
  } applied{this};
  tessel::SeatLists::Outcome& out = outcome_;
  lists_.Apply(record, &out);
  if (!out.applied) return;  // no IP key: dropped without a line
  if (tessel::DiagnosticLinesOn())
    ConsolePrintf("\nIPList :%s type:%d\n", tessel::Printable(out.ipKey).c_str(), out.kind);
  PutOutcome(record, out);
}

void IPListVirtualIDInfo::UpdateListForOneIP(VirtualIdRecord& record, IdentityMap& entry,
                                             int kind, std::string groupKey) {
  if (kind < REALNAME_LOGON || kind > IM_OTHER) return;
  tessel::SeatLists::Outcome out;
  tessel::SeatLists::ApplyToSeat(record, entry, static_cast<NetLogKind>(kind), groupKey, &out);
  PutOutcome(record, out);
}

void IPListVirtualIDInfo::PutAllNetLogToP2P(IdentityMap& entry, int flag) {
  tessel::SeatLists::Outcome out;
  tessel::SeatLists::PutAll(entry, flag, &out);
  // The puts follow the entry's order; each stored copy takes what the hook
  // made of it.
  std::size_t i = 0;
  for (IdentityMap::value_type* identity : tessel::SeatLists::InKeyOrder(entry)) {
    for (tessel::CompactRecord& stored : identity->second) {
      VirtualIdRecord record = out.puts[i++].record;
      PutNetLogToP2P(record, flag);
      stored = record;
    }
  }
}

void IPListVirtualIDInfo::ExportToFile(const char* filePath, int& count) {
  std::shared_lock<std::shared_mutex> guard(lock);
  std::string unitIdentity;
  {
    std::lock_guard<std::mutex> identity(identityLock);
    unitIdentity = this->unitIdentity;
  }
  count = 0;
  tessel::SeatLists::Seats& seats = lists_.seats();
  for (tessel::SeatLists::Seats::iterator ip = seats.begin(); ip != seats.end(); ++ip) {
    for (const IdentityMap::value_type* identity : tessel::SeatLists::InKeyOrder(ip->second)) {
      const std::vector<tessel::CompactRecord>& records = identity->second;
      if (records.empty()) continue;
      // Of an IM account only its latest state is on line.
      std::size_t start = records.size() > 1 && tessel::IsImInfoType(records[0].InfoType()) ? 1 : 0;
      for (std::size_t i = start; i < records.size(); ++i) {
        try {
          // An identity too short to split cannot be exported.
          if (unitIdentity.size() < 2) continue;
          const std::string head = unitIdentity.substr(0, 2);
          const std::string tail = unitIdentity.substr(2);
          // Only records that reached the file are counted, so the caller's
          // count matches the file.
          const VirtualIdRecord record = records[i].Expand();
          if (tagSepExporttoFile(filePath, unitIdentity.c_str(), head.c_str(), tail.c_str(),
                                 record.bytes, static_cast<int>(rec::kSize)) == 0)
            ++count;
        } catch (const std::exception&) {
        }
      }
    }
  }
}
