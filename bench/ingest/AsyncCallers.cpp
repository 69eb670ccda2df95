#include "AsyncCallers.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "VirtualAccount.h"

namespace ingest {

namespace {

using Audit::VirtualPersion::AccountInfoPrx;

// The send time of one call, handed back to its callback.
class SentAt : public Ice::LocalObject {
 public:
  explicit SentAt(Clock::time_point at) : at(at) {}
  const Clock::time_point at;
};
typedef IceUtil::Handle<SentAt> SentAtPtr;

// One caller thread's calls in flight and what became of them. Callbacks
// run on the client's thread pool.
class Flight : public IceUtil::Shared {
 public:
  explicit Flight(long expected) { latencyUs_.reserve(static_cast<std::size_t>(expected)); }

  // Blocks while `limit` calls are in flight, then counts one more.
  void Acquire(int limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    slotFree_.wait(lock, [&] { return inFlight_ < limit; });
    ++inFlight_;
  }
  void WaitForAll() {
    std::unique_lock<std::mutex> lock(mutex_);
    slotFree_.wait(lock, [&] { return inFlight_ == 0; });
  }

  void Answered(const SentAtPtr& sent) { Done(sent->at, nullptr); }
  void Raised(const Ice::Exception& e, const SentAtPtr& sent) { Done(sent->at, &e); }
  // A call that could not even be sent.
  void NotSent(const Ice::Exception& e) { Done(Clock::now(), &e); }

  void AddTo(AsyncOutcome* outcome) {
    std::lock_guard<std::mutex> lock(mutex_);
    outcome->answered += answered_;
    outcome->refused += refused_;
    if (outcome->firstRefusal.empty()) outcome->firstRefusal = firstRefusal_;
    if (answered_ + refused_ > 0 && lastCompletion_ > outcome->lastCompletion)
      outcome->lastCompletion = lastCompletion_;
    outcome->latencyUs.insert(outcome->latencyUs.end(), latencyUs_.begin(), latencyUs_.end());
  }

 private:
  void Done(Clock::time_point sent, const Ice::Exception* e) {
    const Clock::time_point now = Clock::now();
    const long long us =
        std::chrono::duration_cast<std::chrono::microseconds>(now - sent).count();
    std::string text;
    if (e) {
      // An UnknownException's text is the service's reason.
      const Ice::UnknownException* unknown = dynamic_cast<const Ice::UnknownException*>(e);
      text = unknown ? unknown->ice_id() + ": " + unknown->unknown : e->what();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    latencyUs_.push_back(static_cast<std::uint32_t>(std::min<long long>(us, UINT32_MAX)));
    if (e) {
      ++refused_;
      if (firstRefusal_.empty()) firstRefusal_ = text;
    } else {
      ++answered_;
    }
    lastCompletion_ = now;
    --inFlight_;
    slotFree_.notify_one();
  }

  std::mutex mutex_;
  std::condition_variable slotFree_;
  int inFlight_ = 0;
  long answered_ = 0;
  long refused_ = 0;
  std::string firstRefusal_;
  Clock::time_point lastCompletion_;
  std::vector<std::uint32_t> latencyUs_;
};
typedef IceUtil::Handle<Flight> FlightPtr;

}  // namespace

AsyncOutcome CallAsync(const Ice::CommunicatorPtr& client, const std::string& proxy,
                       const AsyncPlan& plan) {
  std::vector<FlightPtr> flights;
  std::vector<AccountInfoPrx> proxies;
  for (int t = 0; t < plan.threads; ++t) {
    flights.push_back(new Flight(plan.records / plan.threads + 1));
    proxies.push_back(AccountInfoPrx::uncheckedCast(AgentProxy(client, proxy, t)));
    // Connected before the clock starts.
    proxies.back()->ice_getConnection();
  }
  std::atomic<long> next(0);
  AsyncOutcome outcome;
  outcome.firstSend = Clock::now();
  outcome.lastCompletion = outcome.firstSend;
  std::vector<std::thread> callers;
  for (int t = 0; t < plan.threads; ++t) {
    callers.emplace_back([&, t]() {
      const FlightPtr flight = flights[t];
      const Audit::VirtualPersion::Callback_AccountInfo_writePtr callback =
          Audit::VirtualPersion::newCallback_AccountInfo_write(flight, &Flight::Answered,
                                                               &Flight::Raised);
      for (long index = next++; index < plan.records; index = next++) {
        const Ice::ByteSeq record =
            ImLogonRecord(static_cast<std::uint32_t>(index % plan.seats),
                          "sustained" + std::to_string(index), plan.seatLogon);
        flight->Acquire(plan.inFlight);
        try {
          proxies[t]->begin_write(record, callback, new SentAt(Clock::now()));
        } catch (const Ice::Exception& e) {
          flight->NotSent(e);
        }
      }
      flight->WaitForAll();
    });
  }
  for (std::thread& caller : callers) caller.join();
  for (const FlightPtr& flight : flights) flight->AddTo(&outcome);
  return outcome;
}

double LatencyQuantileMs(std::vector<std::uint32_t>* latencyUs, double q) {
  if (latencyUs->empty()) return 0;
  const std::size_t rank = std::min(latencyUs->size() - 1,
                                    static_cast<std::size_t>(q * latencyUs->size()));
  std::nth_element(latencyUs->begin(), latencyUs->begin() + rank, latencyUs->end());
  return (*latencyUs)[rank] / 1000.0;
}

}  // namespace ingest
