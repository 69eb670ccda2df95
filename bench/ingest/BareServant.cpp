// The ceiling of the ingest benchmark: an IceBox module serving the same
// AccountInfo interface as the service, whose record operations only append
// the record to two files of the site (a day file and a seat file, each
// opened, written and closed per record) and do nothing else. Whatever the
// service spends beyond this is its own cost.
//
// With <name>.Sync=1 it is the floor of power-cut durability instead: a
// call is answered only once both files are synced, one fdatasync of each
// covering every call that came meanwhile (a group commit, as a database's
// log does). What this costs the bare servant is what syncing alone costs on
// this machine's disk.
//
// Files: <site>/virtualdb/<YYMMDD>.RiaBase (named once, at start, so the
// driver counts it as it counts the service's day files) and
// <site>/virtualdb/bare-seat.RiaBase. The site is $TESSEL_HOME, else the
// working directory.
#include <Ice/Ice.h>
#include <IceBox/IceBox.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VirtualAccount.h"

namespace {

const Ice::ByteSeq::size_type kRecordSize = 1247;

void AppendTo(const std::string& path, const Ice::ByteSeq& record) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  // O_APPEND keeps concurrent appends of one record each whole; a short
  // write shows as a missing record in the driver's count.
  const ssize_t written = ::write(fd, record.data(), record.size());
  (void)written;
  ::close(fd);
}

// Answers calls once the files they appended to are synced.
class GroupSync {
 public:
  GroupSync(const std::string& dayFile, const std::string& seatFile)
      : dayFd_(::open(dayFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644)),
        seatFd_(::open(seatFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644)),
        thread_([this] { Run(); }) {}
  ~GroupSync() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ending_ = true;
    }
    due_.notify_one();
    thread_.join();
    ::close(dayFd_);
    ::close(seatFd_);
  }
  // After the call's appends.
  void AnswerOnceSynced(const std::function<void()>& answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.push_back(answer);
    due_.notify_one();
  }

 private:
  void Run() {
    std::vector<std::function<void()> > batch;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      due_.wait(lock, [this] { return ending_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      batch.swap(waiting_);
      lock.unlock();
      ::fdatasync(dayFd_);
      ::fdatasync(seatFd_);
      for (const std::function<void()>& answer : batch) answer();
      batch.clear();
      lock.lock();
    }
  }

  const int dayFd_, seatFd_;
  std::mutex mutex_;
  std::condition_variable due_;
  std::vector<std::function<void()> > waiting_;
  bool ending_ = false;
  std::thread thread_;  // last: started once the rest is ready
};

class BareAccountInfo : public Audit::VirtualPersion::AccountInfo {
 public:
  BareAccountInfo(const std::string& dayFile, const std::string& seatFile, bool synced)
      : dayFile_(dayFile), seatFile_(seatFile),
        sync_(synced ? new GroupSync(dayFile, seatFile) : nullptr) {}

  // Answered at once, as a synchronous servant would be (or once synced).
  virtual void write_async(const Audit::VirtualPersion::AMD_AccountInfo_writePtr& cb,
                           const Ice::ByteSeq& record, const Ice::Current&) {
    store(record);
    answer([cb] { cb->ice_response(); });
  }
  virtual void registAccount_async(
      const Audit::VirtualPersion::AMD_AccountInfo_registAccountPtr& cb,
      const Ice::ByteSeq& record, const Ice::Current&) {
    store(record);
    answer([cb] { cb->ice_response(); });
  }
  virtual void writeAccount_async(const Audit::VirtualPersion::AMD_AccountInfo_writeAccountPtr& cb,
                                  const Ice::ByteSeq& record, const Ice::Current&) {
    store(record);
    answer([cb] { cb->ice_response(); });
  }
  virtual void RealNameClientOff_async(
      const Audit::VirtualPersion::AMD_AccountInfo_RealNameClientOffPtr& cb, Ice::Int,
      const Ice::ByteSeq&, Ice::Int, Ice::Int, const Ice::Current&) {
    cb->ice_response();
  }
  virtual void AccountOff_async(const Audit::VirtualPersion::AMD_AccountInfo_AccountOffPtr& cb,
                                Ice::Int, Ice::Int, Ice::Int, const Ice::Current&) {
    cb->ice_response();
  }
  virtual void NotifyToUpChatContent_async(
      const Audit::VirtualPersion::AMD_AccountInfo_NotifyToUpChatContentPtr& cb, Ice::Int,
      Ice::Int, Ice::Int, const Ice::Current&) {
    cb->ice_response();
  }
  virtual void GetAllOnLineVirtualId_async(
      const Audit::VirtualPersion::AMD_AccountInfo_GetAllOnLineVirtualIdPtr& cb,
      const Ice::Current&) {
    cb->ice_response(0, std::string());
  }

 private:
  void answer(const std::function<void()>& respond) {
    if (sync_) sync_->AnswerOnceSynced(respond);
    else respond();
  }
  void store(const Ice::ByteSeq& record) {
    if (record.size() != kRecordSize) return;
    AppendTo(dayFile_, record);
    AppendTo(seatFile_, record);
  }

  const std::string dayFile_;
  const std::string seatFile_;
  std::unique_ptr<GroupSync> sync_;
};

std::string SiteDir() {
  const char* home = std::getenv("TESSEL_HOME");
  return home && *home ? std::string(home) : std::string(".");
}

std::string TodaysStamp() {
  const std::time_t now = std::time(0);
  std::tm local;
  char text[16] = "";
  if (::localtime_r(&now, &local)) std::strftime(text, sizeof text, "%y%m%d", &local);
  return text;
}

class BareService : public IceBox::Service {
 public:
  virtual void start(const std::string& name, const Ice::CommunicatorPtr& communicator,
                     const Ice::StringSeq&) {
    const std::string dir = SiteDir() + "/virtualdb";
    ::mkdir(dir.c_str(), 0755);
    adapter_ = communicator->createObjectAdapter(name);
    const bool synced = communicator->getProperties()->getPropertyAsInt(name + ".Sync") > 0;
    adapter_->add(new BareAccountInfo(dir + "/" + TodaysStamp() + ".RiaBase",
                                      dir + "/bare-seat.RiaBase", synced),
                  Ice::stringToIdentity(name));
    adapter_->activate();
  }
  virtual void stop() { adapter_->deactivate(); }

 private:
  Ice::ObjectAdapterPtr adapter_;
};

}  // namespace

extern "C" ICE_DECLSPEC_EXPORT IceBox::Service* create(const Ice::CommunicatorPtr&) {
  return new BareService;
}
