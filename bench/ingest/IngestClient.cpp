#include "IngestClient.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "EventRecords.h"
#include "VirtualAccount.h"

namespace ingest {

namespace {

using Audit::VirtualPersion::AccountInfoPrx;

const std::uint32_t kFirstSeatIp = 0x0A000001;  // 10.0.0.1

}  // namespace

Ice::ByteSeq ImLogonRecord(std::uint32_t seat, const std::string& account,
                           std::time_t seatLogon) {
  events::Event event;
  event.unit = "4401020001";
  event.ip = kFirstSeatIp + seat;
  event.seatLogon = static_cast<std::int32_t>(seatLogon);
  event.infoType = 1001;
  event.account = account;
  event.beginTime = event.seatLogon;
  event.endTime = event.seatLogon;
  const VirtualIdRecord record = events::IdentityEventRecord(event, 0);
  return Ice::ByteSeq(record.bytes, record.bytes + sizeof record.bytes);
}

Ice::ObjectPrx AgentProxy(const Ice::CommunicatorPtr& client, const std::string& proxy,
                          int agent) {
  return client->stringToProxy(proxy)->ice_connectionId("agent" + std::to_string(agent));
}

SendResult SendRecords(const Ice::CommunicatorPtr& client, const std::string& proxy,
                       const SendPlan& plan) {
  std::atomic<long> next(0);
  std::mutex resultLock;
  SendResult result;
  result.lastReturn = Clock::now();
  std::vector<std::thread> agents;
  for (int agent = 0; agent < plan.threads; ++agent) {
    agents.emplace_back([&, agent]() {
      // Agents are separate programs: one connection and one seat each.
      AccountInfoPrx prx = AccountInfoPrx::uncheckedCast(AgentProxy(client, proxy, agent));
      long sent = 0;
      Clock::time_point lastReturn = Clock::now();
      std::string error;
      while (Clock::now() < plan.deadline) {
        const long index = next++;
        if (plan.maxRecords >= 0 && index >= plan.maxRecords) break;
        try {
          prx->write(ImLogonRecord(agent, "ingest" + std::to_string(index), plan.seatLogon));
        } catch (const Ice::Exception& e) {
          error = e.what();
          break;
        }
        ++sent;
        lastReturn = Clock::now();
      }
      std::lock_guard<std::mutex> guard(resultLock);
      result.sent += sent;
      if (sent > 0 && lastReturn > result.lastReturn) result.lastReturn = lastReturn;
      if (result.error.empty()) result.error = error;
    });
  }
  for (std::thread& agent : agents) agent.join();
  return result;
}

void SendProbe(const Ice::CommunicatorPtr& client, const std::string& proxy,
               std::time_t seatLogon) {
  AccountInfoPrx::uncheckedCast(AgentProxy(client, proxy, 0))
      ->write(ImLogonRecord(0, "probe", seatLogon));
}

}  // namespace ingest
