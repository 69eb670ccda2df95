#include "lists/Intake.h"

#include <algorithm>
#include <chrono>

#include "common/Console.h"
#include "common/StoppableThread.h"

namespace tessel {

namespace {

// A journal that cannot be opened is tried again this often, on demand.
const std::int64_t kJournalReopenMs = 1000;
// Failed batches remembered for callers that ask after the answer was
// settled (a call asks right after it handed its records over, so a few
// are plenty).
const std::size_t kFailedKept = 1024;

}  // namespace

void Receipt::Add(const Receipt& later) {
  if (status.ok() && !later.status.ok()) status = later.status;
  sequence = std::max(sequence, later.sequence);
  if (later.first != 0) first = first == 0 ? later.first : std::min(first, later.first);
}

class Intake::Writer : public StoppableThread {
 public:
  Writer(Intake* intake, port::Env* env) : StoppableThread(env), intake_(intake) {}
  void run() override { intake_->WriteLoop(); }

 private:
  Intake* const intake_;
};

Intake::Intake(port::Env* env, const WriteOptions& options) : env_(env), options_(options) {
  writer_ = new Writer(this, env);
  writer_->start();
}

Intake::~Intake() { Shutdown(); }

void Intake::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
    closed_ = true;
  }
  writeDue_.notify_all();
  room_.notify_all();
  // The thread writes what waits, answers every caller, then ends.
  writer_->StopAndJoin();
  // Files emptied by the passes keep the size of their largest round while
  // the service runs; a stop gives that room back.
  std::lock_guard<std::mutex> lock(mutex_);
  if (journal_ && inWrite_ == 0) journal_->Trim();
}

port::Status Intake::Open(const std::string& dir) {
  const bool durable = options_.durability == Durability::kPower;
  std::unique_ptr<IntakeJournal> journal(new IntakeJournal(env_, dir, durable));
  std::vector<VirtualIdRecord> left;
  port::Status status = journal->Open(&left);
  // The journal's names must outlast a power cut as its entries do.
  if (status.ok() && durable) status = env_->SyncDir(dir);
  std::lock_guard<std::mutex> lock(mutex_);
  dir_ = dir;
  opened_ = true;
  NoteJournalLocked(status);
  if (!status.ok()) {
    nextJournalOpenMs_ = env_->NowMillis() + kJournalReopenMs;
    return status;
  }
  queued_.insert(queued_.begin(), left.begin(), left.end());
  journal_ = std::move(journal);
  return status;
}

std::size_t Intake::ForEachQueued(
    const std::function<void(const VirtualIdRecord&)>& each) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (each)
    for (const VirtualIdRecord& record : queued_) each(record);
  return queued_.size();
}

bool Intake::JournalUsableLocked() {
  if (journal_ && journal_->usable()) return true;
  if (dir_.empty()) return !opened_;  // never opened: records in memory only
  if (env_->NowMillis() < nextJournalOpenMs_) return false;
  nextJournalOpenMs_ = env_->NowMillis() + kJournalReopenMs;
  const bool durable = options_.durability == Durability::kPower;
  std::unique_ptr<IntakeJournal> journal(new IntakeJournal(env_, dir_, durable));
  std::vector<VirtualIdRecord> left;
  port::Status status = journal->Open(&left);
  if (status.ok() && durable) status = env_->SyncDir(dir_);
  NoteJournalLocked(status);
  if (!status.ok()) return false;
  queued_.insert(queued_.begin(), left.begin(), left.end());
  journal_ = std::move(journal);
  return true;
}

Receipt Intake::Add(const VirtualIdRecord& record) {
  Receipt receipt;
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) {
    receipt.status = port::Status::Refused("the service is stopping: the record is not accepted");
  } else if (WaitingLocked() >= options_.maxWaitingRecords && !WaitForRoomLocked(lock)) {
    receipt.status = port::Status::Refused(
        closed_ ? std::string("the service is stopping: the record is not accepted")
                : std::to_string(WaitingLocked()) +
                      " records wait to be stored; the record is not accepted, send it again");
  } else if (!JournalUsableLocked()) {
    receipt.status = port::Status::Refused("the record is not accepted: the intake journal cannot "
                                           "be opened (" + counters_.journalError + ")");
  }
  if (!receipt.status.ok()) {
    ++counters_.refused;
    PublishLocked();
    return receipt;
  }
  if (!journal_) {
    // Never opened: the record is kept in memory only.
    queued_.push_back(record);
    ++counters_.accepted;
    PublishLocked();
    if (queued_.size() >= options_.passTriggerRecords) passDue_.notify_one();
    return receipt;
  }
  // The journal thread writes it with whatever else comes meanwhile.
  const std::uint64_t sequence = journal_->NextSequence();
  if (pending_.empty()) pendingFirst_ = sequence;
  pending_.push_back(record);
  receipt.sequence = receipt.first = sequence;
  PublishLocked();
  const bool wake = writerIdle_ && pending_.size() == 1;
  lock.unlock();
  if (wake) writeDue_.notify_one();
  return receipt;
}

bool Intake::WaitForRoomLocked(std::unique_lock<std::mutex>& lock) {
  // Once a wait has run out, records are refused at once until room is
  // made: a stalled writer must not hold every caller for the whole wait.
  if (refusal_.failing()) {
    refusal_.Failed();
    return false;
  }
  if (env_->WaitFor(room_, lock, options_.roomWaitMs, [this] {
        return closed_ || WaitingLocked() < options_.maxWaitingRecords;
      }))
    return !closed_;
  NoteRefusalLocked(true);
  return false;
}

void Intake::NoteRefusalLocked(bool full) {
  if (full && refusal_.Failed()) {
    LogLine("%zu records wait to be stored; new records are refused until they are",
            options_.maxWaitingRecords);
  } else if (!full && refusal_.Succeeded()) {
    LogLine("records are accepted again; %llu were refused",
            static_cast<unsigned long long>(refusal_.count()));
  }
}

void Intake::NoteJournalLocked(const port::Status& status) {
  const bool changed = status.ok() ? journalFault_.Succeeded()
                                   : journalFault_.Failed(status.ToString(), env_->NowSeconds());
  if (!changed) return;
  counters_.journalFailing = journalFault_.failing();
  counters_.journalError = journalFault_.reason();
  counters_.journalFailingSince = journalFault_.since();
  if (journalFault_.failing()) {
    LogLine("intake journal cannot be written (%s); records are refused until it can",
            counters_.journalError.c_str());
  } else {
    LogLine("intake journal written again");
  }
  std::lock_guard<std::mutex> guard(journalStateLock_);
  journalState_.journalFailing = counters_.journalFailing;
  journalState_.journalError = counters_.journalError;
  journalState_.journalFailingSince = counters_.journalFailingSince;
}

void Intake::WhenSafe(std::uint64_t sequence, Done done) {
  Receipt receipt;
  receipt.sequence = receipt.first = sequence;
  WhenSafe(receipt, std::move(done));
}

void Intake::WhenSafe(const Receipt& receipt, Done done) {
  if (receipt.sequence == 0) {
    done(port::Status::OK());
    return;
  }
  const std::uint64_t first = receipt.first == 0 ? receipt.sequence : receipt.first;
  port::Status answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (receipt.sequence > settled_) {
      waiters_.push_back(Waiter{first, receipt.sequence, std::move(done)});
      return;
    }
    answer = AnswerLocked(first, receipt.sequence);
  }
  done(answer);
}

port::Status Intake::AnswerLocked(std::uint64_t first, std::uint64_t last) const {
  // A call whose records went in several batches is refused when any of
  // them failed.
  for (const Failed& failed : failed_)
    if (failed.first <= last && failed.last >= first) return failed.refusal;
  return port::Status::OK();
}

void Intake::WriteLoop() {
  const bool sync = options_.durability == Durability::kPower;
  std::vector<VirtualIdRecord> batch;
  std::vector<Waiter> ready;
  std::string entries;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    writerIdle_ = true;
    writeDue_.wait(lock, [this] { return ending_ || !pending_.empty(); });
    writerIdle_ = false;
    if (pending_.empty()) return;  // ending, and every caller answered
    batch.swap(pending_);
    const std::uint64_t first = pendingFirst_;
    const std::uint64_t last = first + batch.size() - 1;
    inWrite_ = batch.size();
    IntakeJournal::Batch job;
    port::Status status = journal_->Prepare(first, last, &job);
    IntakeJournal* const journal = journal_.get();
    lock.unlock();
    if (status.ok()) {
      entries.clear();
      for (std::size_t i = 0; i < batch.size(); ++i)
        IntakeJournal::Encode(first + i, batch[i], &entries);
      status = IntakeJournal::Run(entries, sync, &job);
    }
    lock.lock();
    journal->Settle(job, status);
    inWrite_ = 0;
    NoteJournalLocked(status);
    // Entries in the file are queued, whatever their sync did: their callers
    // may be refused, yet what the file holds is stored once and only once.
    if (job.written) {
      counters_.accepted += batch.size();
      // Copied, not swapped: the queue's memory stays with the queue, and
      // the batch's stays as small as a batch.
      queued_.insert(queued_.end(), batch.begin(), batch.end());
      if (queued_.size() >= options_.passTriggerRecords) passDue_.notify_one();
    } else {
      counters_.refused += batch.size();
    }
    batch.clear();
    if (!status.ok()) {
      // A failed sync may have lost what it covered: its callers are
      // refused (they send again).
      failed_.push_back(Failed{
          first, last,
          port::Status::Refused(std::string("the record is not accepted: its journal entry cannot "
                                            "be ") +
                                (job.written ? "synced (" : "written (") + status.ToString() +
                                ")")});
      if (failed_.size() > kFailedKept) failed_.pop_front();
    }
    settled_ = last;
    std::vector<Waiter>::iterator keep = std::partition(
        waiters_.begin(), waiters_.end(),
        [last](const Waiter& waiter) { return waiter.last > last; });
    ready.assign(std::make_move_iterator(keep), std::make_move_iterator(waiters_.end()));
    waiters_.erase(keep, waiters_.end());
    std::vector<port::Status> answers;
    answers.reserve(ready.size());
    for (const Waiter& waiter : ready) answers.push_back(AnswerLocked(waiter.first, waiter.last));
    PublishLocked();
    lock.unlock();
    batchDone_.notify_all();
    if (!job.written) room_.notify_all();
    for (std::size_t i = 0; i < ready.size(); ++i) ready[i].done(answers[i]);
    ready.clear();
    lock.lock();
  }
}

void Intake::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  room_.notify_all();
}

void Intake::WaitForPass(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  env_->WaitFor(passDue_, lock, milliseconds, [this] {
    return woken_ || queued_.size() >= options_.passTriggerRecords;
  });
}

void Intake::Wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
  }
  passDue_.notify_all();
}

std::uint64_t Intake::Take(std::vector<VirtualIdRecord>* taken) {
  taken->clear();
  std::unique_lock<std::mutex> lock(mutex_);
  // A stop's last pass takes every record accepted before the stop: those
  // the journal thread still writes are waited for (a moment at most).
  if (closed_)
    batchDone_.wait_for(lock, std::chrono::seconds(5),
                        [this] { return pending_.empty() && inWrite_ == 0; });
  taken->swap(queued_);
  inPass_ = taken->size();
  PublishLocked();
  return journal_ ? journal_->Take() : 0;
}

void Intake::PassDone(std::uint64_t mark, bool stored, std::size_t held) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // The journal lets go of what the pass took only once it is stored; a
    // pass that could not store everything leaves it for a restart to find.
    if (stored && journal_) journal_->Release(mark);
    inPass_ = 0;
    held_ = held;
    if (WaitingLocked() < options_.maxWaitingRecords) NoteRefusalLocked(false);
    PublishLocked();
  }
  room_.notify_all();
}

void Intake::PublishLocked() {
  accepted_.store(counters_.accepted, std::memory_order_relaxed);
  refused_.store(counters_.refused, std::memory_order_relaxed);
  waiting_.store(WaitingLocked(), std::memory_order_relaxed);
}

IntakeCounters Intake::Counters() const {
  IntakeCounters counters;
  {
    std::lock_guard<std::mutex> guard(journalStateLock_);
    counters = journalState_;
  }
  counters.accepted = accepted_.load(std::memory_order_relaxed);
  counters.refused = refused_.load(std::memory_order_relaxed);
  counters.waiting = waiting_.load(std::memory_order_relaxed);
  return counters;
}

}  // namespace tessel
