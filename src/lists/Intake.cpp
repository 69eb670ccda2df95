#include "lists/Intake.h"

#include <algorithm>

#include "common/Console.h"
#include "common/StoppableThread.h"

namespace tessel {

namespace {

// A journal that cannot be opened is tried again this often, on demand.
const std::int64_t kJournalReopenMs = 1000;

}  // namespace

void Receipt::Add(const Receipt& later) {
  if (status.ok() && !later.status.ok()) status = later.status;
  sequence = std::max(sequence, later.sequence);
}

class Intake::Syncer : public StoppableThread {
 public:
  Syncer(Intake* intake, port::Env* env) : StoppableThread(env), intake_(intake) {}
  void run() override { intake_->SyncLoop(); }

 private:
  Intake* const intake_;
};

Intake::Intake(port::Env* env, const WriteOptions& options) : env_(env), options_(options) {
  if (options_.durability == Durability::kPower) {
    syncer_ = new Syncer(this, env);
    syncer_->start();
  }
}

Intake::~Intake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
    closed_ = true;
  }
  syncDue_.notify_all();
  room_.notify_all();
  // The thread answers every caller still waiting, then ends.
  if (syncer_) syncer_->StopAndJoin();
}

port::Status Intake::Open(const std::string& dir) {
  std::unique_ptr<IntakeJournal> journal(new IntakeJournal(env_, dir));
  std::vector<VirtualIdRecord> left;
  port::Status status = journal->Open(&left);
  // The journal's names must outlast a power cut as its entries do.
  if (status.ok() && options_.durability == Durability::kPower) status = env_->SyncDir(dir);
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
  std::unique_ptr<IntakeJournal> journal(new IntakeJournal(env_, dir_));
  std::vector<VirtualIdRecord> left;
  port::Status status = journal->Open(&left);
  if (status.ok() && options_.durability == Durability::kPower) status = env_->SyncDir(dir_);
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
  } else if (journal_) {
    const port::Status status = journal_->Append(record);
    NoteJournalLocked(status);
    if (!status.ok()) {
      receipt.status = port::Status::Refused(
          "the record is not accepted: its journal entry cannot be written (" +
          status.ToString() + ")");
    }
  }
  if (!receipt.status.ok()) {
    ++counters_.refused;
    PublishLocked();
    return receipt;
  }
  queued_.push_back(record);
  receipt.sequence = journal_ ? journal_->lastSequence() : 0;
  ++counters_.accepted;
  PublishLocked();
  if (queued_.size() >= options_.passTriggerRecords) passDue_.notify_one();
  return receipt;
}

bool Intake::WaitForRoomLocked(std::unique_lock<std::mutex>& lock) {
  // Once a wait has run out, records are refused at once until room is
  // made: a stalled writer must not hold every caller for the whole wait.
  if (refusing_) {
    ++refusedInRow_;
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
  if (full && !refusing_) {
    refusing_ = true;
    refusedInRow_ = 1;
    LogLine("%zu records wait to be stored; new records are refused until they are",
            options_.maxWaitingRecords);
  } else if (!full && refusing_) {
    refusing_ = false;
    LogLine("records are accepted again; %zu were refused", refusedInRow_);
    refusedInRow_ = 0;
  }
}

void Intake::NoteJournalLocked(const port::Status& status) {
  if (status.ok() == !counters_.journalFailing) return;
  counters_.journalFailing = !status.ok();
  if (counters_.journalFailing) {
    counters_.journalError = status.ToString();
    counters_.journalFailingSince = env_->NowSeconds();
    LogLine("intake journal cannot be written (%s); records are refused until it can",
            counters_.journalError.c_str());
  } else {
    counters_.journalError.clear();
    counters_.journalFailingSince = 0;
    LogLine("intake journal written again");
  }
  std::lock_guard<std::mutex> guard(journalStateLock_);
  journalState_.journalFailing = counters_.journalFailing;
  journalState_.journalError = counters_.journalError;
  journalState_.journalFailingSince = counters_.journalFailingSince;
}

void Intake::WhenSafe(std::uint64_t sequence, Done done) {
  if (options_.durability == Durability::kProcess || sequence == 0) {
    done(port::Status::OK());
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sequence > synced_) {
      waiters_.push_back(Waiter{sequence, std::move(done)});
      syncDue_.notify_one();
      return;
    }
  }
  done(port::Status::OK());
}

void Intake::SyncLoop() {
  std::vector<Waiter> ready;
  for (;;) {
    std::unique_lock<std::mutex> lock(mutex_);
    syncDue_.wait(lock, [this] { return ending_ || !waiters_.empty(); });
    if (waiters_.empty()) return;  // ending, and every caller answered
    IntakeJournal::SyncJob job;
    if (journal_) job = journal_->PrepareSync();
    lock.unlock();
    const port::Status status = job.Run();
    lock.lock();
    if (status.ok()) {
      if (journal_) journal_->Synced(job);
      synced_ = std::max(synced_, job.upTo);
    }
    NoteJournalLocked(status);
    // A failed sync may have lost what it covered: its callers are refused
    // (they send again); entries after it wait for the next sync.
    const std::uint64_t answered = job.upTo;
    std::vector<Waiter>::iterator keep = std::partition(
        waiters_.begin(), waiters_.end(),
        [answered](const Waiter& waiter) { return waiter.sequence > answered; });
    ready.assign(std::make_move_iterator(keep), std::make_move_iterator(waiters_.end()));
    waiters_.erase(keep, waiters_.end());
    lock.unlock();
    const port::Status answer =
        status.ok() ? status
                    : port::Status::Refused("the record is not accepted: its journal entry "
                                            "cannot be synced (" + status.ToString() + ")");
    for (Waiter& waiter : ready) waiter.done(answer);
    ready.clear();
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
  std::lock_guard<std::mutex> lock(mutex_);
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
    if (stored && journal_) journal_->Release(mark, options_.durability == Durability::kPower);
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
