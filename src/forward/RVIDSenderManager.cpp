#include "forward/RVIDSenderManager.h"

#include <IceUtil/Exception.h>

#include <vector>

#include "common/Console.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "forward/ProgressSpelling.h"

RVIDSenderManager::RVIDSenderManager(const tessel::SiteContext& site, int passPauseMs,
                                     const RVIDSender::Pacing& senderPacing)
    : tessel::StoppableThread(site.env), env(site.env), site(site), passPauseMs(passPauseMs),
      senderPacing(senderPacing) {}

RVIDSenderManager::~RVIDSenderManager() { StopAll(); }

void RVIDSenderManager::run() {
  while (!StopRequested()) {
    OnePass();
    if (!Pause(passPauseMs)) break;
  }
  StopAll();
}

void RVIDSenderManager::Stop() {
  StopAndJoin();
  // A manager that never ran may still hold senders (none in practice).
  StopAll();
}

std::vector<tessel::UpstreamStatus> RVIDSenderManager::Statuses() const {
  std::vector<RVIDSenderPtr> held;
  {
    std::lock_guard<std::mutex> guard(tableLock);
    for (const auto& entry : senders)
      if (entry.second) held.push_back(entry.second);
  }
  std::vector<tessel::UpstreamStatus> statuses;
  for (const RVIDSenderPtr& sender : held) statuses.push_back(sender->Status());
  return statuses;
}

void RVIDSenderManager::StopAll() {
  std::vector<std::string> keys;
  for (const auto& entry : senders) keys.push_back(entry.first);
  StopSenders(keys);
}

void RVIDSenderManager::StopSenders(const std::vector<std::string>& keys) {
  // Out of the table first; then all are asked, so they wind down together,
  // and each is joined before it is released.
  std::vector<RVIDSenderPtr> stopping;
  {
    std::lock_guard<std::mutex> guard(tableLock);
    for (const std::string& key : keys) {
      auto found = senders.find(key);
      if (found == senders.end()) continue;
      if (found->second) stopping.push_back(found->second);
      senders.erase(found);
    }
  }
  for (const RVIDSenderPtr& sender : stopping) sender->RequestStop();
  for (const RVIDSenderPtr& sender : stopping) sender->StopAndJoin();
}

void RVIDSenderManager::OnePass() {
  const std::string path = site.NetbarConfigPath();
  const tessel::ServerList list = tessel::ReadServerList(path, env);
  Report(path, list);
  // A file that vanished or is being rewritten names no list: the servers
  // served go on being served until it names one again.
  if (list.usable) Follow(list);
  if (retention) retention->Pass(list);
}

void RVIDSenderManager::SetDayFileKeepDays(int days) {
  retention.reset(days > 0 ? new tessel::DayFileRetention(site, days) : nullptr);
}

void RVIDSenderManager::Report(const std::string& path, const tessel::ServerList& list) {
  const std::string shown = tessel::Printable(path);
  if (!list.usable) {
    if (listLost.Failed(list.why)) {
      std::size_t served;
      {
        std::lock_guard<std::mutex> guard(tableLock);
        served = senders.size();
      }
      tessel::LogLine("%s cannot be used (%s): the last list of upstream servers stays in force "
                      "(%zu served)",
                      shown.c_str(), tessel::Printable(list.why).c_str(), served);
    }
    return;
  }
  if (listLost.Succeeded())
    tessel::LogLine("%s can be used again: its list of upstream servers is followed", shown.c_str());
  for (const tessel::ProfileNote& note : list.notes)
    if (noted.insert(note.text).second)
      tessel::LogLine("%s: %s", shown.c_str(), note.text.c_str());
}

void RVIDSenderManager::WarnOfOtherSpelling(const tessel::ServerEntry& entry) {
  const std::string other = tessel::OtherSpellingProgress(
      env, tessel::JoinPath(site.workDir, tessel::kVirtualDbDirName), entry.address,
      static_cast<unsigned short>(entry.port));
  if (other.empty() || !noted.insert("spelling " + entry.key + " " + other).second) return;
  tessel::LogLine("upstream %s has no progress file, but %s is the progress of the same server "
                  "spelt otherwise: a new one starts at today's day file and sends again what "
                  "that spelling had sent; spell the server as before to go on from it",
                  tessel::Printable(entry.key).c_str(), tessel::Printable(other).c_str());
}

void RVIDSenderManager::Follow(const tessel::ServerList& list) {
  stale.clear();
  for (const auto& entry : senders) stale.insert(entry.first);

  for (const tessel::ServerEntry& entry : list.entries) {
    if (StopRequested()) return;
    if (entry.overdue) {
      if (senders.count(entry.key) != 0) StopSenders(std::vector<std::string>(1, entry.key));
      continue;
    }
    auto found = senders.find(entry.key);
    RVIDSenderPtr sender = found != senders.end() ? found->second : RVIDSenderPtr();
    if (sender && !sender->isAlive() && sender->HasStarted()) {
      // Its thread has ended on its own: a fresh sender takes over from the
      // progress file.
      sender->StopAndJoin();
      sender = nullptr;
    }
    if (!sender) {
      WarnOfOtherSpelling(entry);
      sender = new RVIDSender(entry.address.c_str(), entry.port, entry.offset, site, senderPacing);
      std::lock_guard<std::mutex> guard(tableLock);
      senders[entry.key] = sender;
    }
    if (!sender->isAlive()) {
      try {
        sender->start();
      } catch (const IceUtil::Exception&) {
        // No thread could be made now; the next pass tries again.
      }
    }
    stale.erase(entry.key);
  }

  std::vector<std::string> gone(stale.begin(), stale.end());
  for (const auto& entry : senders)
    if (!entry.second) gone.push_back(entry.first);
  StopSenders(gone);
}
