#include "lists/PreTreatHandle.h"

#include <algorithm>
#include <cstring>

#include "common/Console.h"
#include "common/GbkTexts.h"
#include "common/PathHelpers.h"
#include "lists/KeywordSet.h"
#include "record/Keyword.h"

namespace port = tessel::port;
namespace rec = tessel::rec;
namespace gbk = tessel::gbk;
using tessel::ConsolePrintf;

namespace {

// A prefix text handed to GetLogonTime is read up to this many characters.
const std::size_t kMaxLogonTimePrefix = 259;

}  // namespace

preTreatHandle::preTreatHandle(const tessel::SiteContext& site, int drainIntervalMs,
                               const tessel::WriteOptions& options)
    : IPListVirtualIDInfo(site.env, drainIntervalMs, options),
      virtualdbDir(site.VirtualDbDir()),
      writer(site.env, virtualdbDir, options),
      iaFileWorker(nullptr) {
  writer.SetListedKeywords([this](std::vector<std::string>* keywords) { ListedKeywords(keywords); });
  // Never longer apart than the pause between passes: under load, passes
  // come faster and a checkpoint covers several; idle, one covers one.
  writer.SetCheckpointEvery(std::min(options.checkpointMs, drainIntervalMs));
  OpenIntakeJournal(virtualdbDir);
}

int preTreatHandle::Initialize() {
  PrepareFiles();
  return LoadVirtualDB();
}

std::string& preTreatHandle::MakeKeyword(const VirtualIdRecord& record, std::string& out) {
  out = tessel::MakeKeywordBase(record);
  return out;
}

void preTreatHandle::PutNetLogToP2P(VirtualIdRecord& record, int flag) {
  record.SetInt(rec::kInputFlag, flag);
  const int logonBefore = record.LogonTime();
  const int logoffBefore = record.LogoffTime();
  const int kind = GetNetLogKind(record);
  const int outputFlag = tessel::OutputFlagOf(kind);
  std::string keyword;
  MakeKeyword(record, keyword);
  keyword += "_" + std::to_string(outputFlag);

  // Written already, or about to be; at start, its IP file may still lack
  // it (a crash between the two).
  const tessel::KeywordDigest digest = tessel::KeywordDigest::Of(keyword);
  if (writer.Knows(digest)) {
    if (writer.Reconciling()) writer.Reconcile(record, keyword, kind);
    return;
  }
  if (tessel::DiagnosticLinesOn())
    ConsolePrintf(
        "preTreatHandle::PutNetLogToP2P -- keyword : %s; Input Flag:%d,Info Type:%d,Output "
        "Flag:%d, %s:%d,%s:%d;%s:%d,%s:%d.\r\n",
        tessel::Printable(keyword).c_str(), flag, kind, outputFlag, gbk::kLogonTimeWord,
        record.LogonTime(), gbk::kLogoffTimeWord, record.LogoffTime(), gbk::kLogonTimeWord,
        logonBefore, gbk::kLogoffTimeWord, logoffBefore);

  // Information put off is never written, and stays unknown as a keyword.
  if (kind == OTHER_INFO && flag == 0) return;

  writer.Queue(record, std::move(keyword), digest, kind);
  // Within a pass the queue is written when the pass ends; a direct call
  // writes (and syncs) at once.
  if (!InPass()) {
    writer.CheckpointNow();
    writer.WriteQueued();
  }
}

void preTreatHandle::PrepareFiles() {
  if (filesPrepared) return;
  writer.CutTornTails();
  filesPrepared = true;
}

bool preTreatHandle::FinishPass() {
  // A stop's last pass leaves everything synced.
  if (StopRequested()) writer.CheckpointNow();
  const bool stored = writer.WriteQueued();
  // The records the journal gave back at start have all been applied.
  if (writer.Reconciling() && !Carrying()) writer.EndReconciling();
  writer.ExpireIfDue();
  PublishCounters();
  return stored;
}

void preTreatHandle::AfterPass(bool released) { writer.PassReleased(released); }

void preTreatHandle::ListedKeywords(std::vector<std::string>* keywords) {
  for (const auto& ip : Lists())
    for (const auto& identity : ip.second)
      for (const tessel::CompactRecord& stored : identity.second)
        keywords->push_back(tessel::KeywordOf(stored.Expand()));
}

void preTreatHandle::PublishCounters() {
  const tessel::WriteCounters now = writer.Counters();
  std::lock_guard<std::mutex> guard(countersLock);
  counters = now;
}

tessel::WriteCounters preTreatHandle::WriteCounters() const {
  std::lock_guard<std::mutex> guard(countersLock);
  return counters;
}

bool preTreatHandle::HasSentKeyword(const std::string& keyword) const {
  return writer.keywords().Contains(tessel::KeywordDigest::Of(keyword));
}

void preTreatHandle::SetIAFileWorker(MakeUpIAFileWorker* worker) {
  iaFileWorker = worker;
  writer.SetIAFileWorker(worker);
}

int preTreatHandle::LoadVirtualDB() {
  const int result = writer.Open().ok() ? 0 : -1;
  PublishCounters();
  return result;
}

int preTreatHandle::SaveVirtualDB() { return writer.SaveKeywords(); }

int preTreatHandle::WriteRiaBase(VirtualIdRecord& record) {
  if (!writer.AppendToDayFile(record).ok()) return 0;
  WriteIPRiaBase(record, virtualdbDir);
  return 1;
}

int preTreatHandle::WriteIPRiaBase(VirtualIdRecord& record, const std::string&) {
  port::Status status;
  return writer.AppendToIpFile(record, &status) && status.ok() ? 1 : 0;
}

int preTreatHandle::GetLogonTime(const char* prefix) {
  if (prefix == nullptr) return 0;
  return tessel::GetTimeKey(std::string(prefix, ::strnlen(prefix, kMaxLogonTimePrefix)));
}
