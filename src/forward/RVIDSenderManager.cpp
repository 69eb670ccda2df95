#include "forward/RVIDSenderManager.h"

#include <IceUtil/Exception.h>

#include <vector>

#include "common/PathHelpers.h"
#include "forward/Profile.h"

namespace {

const char kSection[] = "P2PVIRTUALID";
const std::size_t kMaxAddress = 30;

std::string Numbered(const char* key, int i) { return key + std::to_string(i); }

}  // namespace

RVIDSenderManager::RVIDSenderManager(int passPauseMs, const RVIDSender::Pacing& senderPacing,
                                     tessel::port::Env* env)
    : tessel::StoppableThread(env), env_(env), passPauseMs_(passPauseMs),
      senderPacing_(senderPacing) {}

RVIDSenderManager::~RVIDSenderManager() { StopAll(); }

void RVIDSenderManager::run() {
  while (!StopRequested()) {
    OnePass();
    if (!Pause(passPauseMs_)) break;
  }
  StopAll();
}

void RVIDSenderManager::Stop() {
  StopAndJoin();
  // A manager that never ran may still hold senders (none in practice).
  StopAll();
}

void RVIDSenderManager::StopAll() {
  std::vector<std::string> keys;
  for (const auto& entry : senders) keys.push_back(entry.first);
  StopSenders(keys);
}

void RVIDSenderManager::StopSenders(const std::vector<std::string>& keys) {
  // All are asked first, so they wind down together, then each is joined
  // before it is released.
  for (const std::string& key : keys) {
    auto found = senders.find(key);
    if (found != senders.end() && found->second) found->second->RequestStop();
  }
  for (const std::string& key : keys) {
    auto found = senders.find(key);
    if (found == senders.end()) continue;
    if (found->second) found->second->StopAndJoin();
    senders.erase(found);
  }
}

void RVIDSenderManager::OnePass() {
  tessel::ProfileSection profile;
  profile.Load(GetModuleDir() + "netbarcfg.ini", kSection, env_);  // unreadable: no servers

  stale.clear();
  for (const auto& entry : senders) stale.insert(entry.first);

  const int count = profile.GetInt("AddrCount", 0);
  for (int i = 0; i < count && !StopRequested(); ++i) {
    const int overdue = profile.GetInt(Numbered("IsOverdue_", i), 0);
    const std::string address =
        profile.GetString(Numbered("ServerAddr_", i), "localhost", kMaxAddress);
    const int port = profile.GetInt(Numbered("ServerPort_", i), 0);
    const std::string key = address + ":" + std::to_string(port);
    const int offset = profile.GetInt(Numbered("OffSet_", i), -1);

    if (overdue != 0) {
      if (senders.count(key) != 0) StopSenders(std::vector<std::string>(1, key));
      continue;
    }
    RVIDSenderPtr& sender = senders[key];
    if (sender && !sender->isAlive() && sender->HasStarted()) {
      // Its thread has ended on its own: a fresh sender takes over from the
      // progress file.
      sender->StopAndJoin();
      sender = nullptr;
    }
    if (!sender) sender = new RVIDSender(address.c_str(), port, offset, senderPacing_, env_);
    if (!sender->isAlive()) {
      try {
        sender->start();
      } catch (const IceUtil::Exception&) {
        // No thread could be made now; the next pass tries again.
      }
    }
    stale.erase(key);
  }

  std::vector<std::string> gone(stale.begin(), stale.end());
  for (const auto& entry : senders)
    if (!entry.second) gone.push_back(entry.first);
  StopSenders(gone);
}
