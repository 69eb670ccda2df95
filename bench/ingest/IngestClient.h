// The seat agents of the benchmark: threads calling write() synchronously,
// each over a connection of its own and for a seat of its own, with IM
// log-on records (info type 1001) whose accounts, and so keywords, are all
// distinct: every record is new to the service and must be stored.
#ifndef TESSEL_BENCH_INGESTCLIENT_H
#define TESSEL_BENCH_INGESTCLIENT_H

#include <Ice/Ice.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

namespace ingest {

typedef std::chrono::steady_clock Clock;

struct SendPlan {
  int threads = 2;
  // Sending stops at the deadline or once maxRecords calls were made.
  Clock::time_point deadline;
  long maxRecords = -1;  // -1: no cap
  std::time_t seatLogon = 0;
};

struct SendResult {
  long sent = 0;                // calls that returned
  Clock::time_point lastReturn;  // when the last of them returned
  std::string error;            // the first failure, if a call failed
};

// An IM log-on record (info type 1001) of `account` at seat number `seat`,
// whose address is 10.0.0.1 + seat: the seat's IP key in the record prefix.
Ice::ByteSeq ImLogonRecord(std::uint32_t seat, const std::string& account, std::time_t seatLogon);

// A proxy on a connection of its own, as a separate agent program has.
Ice::ObjectPrx AgentProxy(const Ice::CommunicatorPtr& client, const std::string& proxy,
                          int agent);

SendResult SendRecords(const Ice::CommunicatorPtr& client, const std::string& proxy,
                       const SendPlan& plan);

// One record with an account of its own, outside the plan's accounts.
void SendProbe(const Ice::CommunicatorPtr& client, const std::string& proxy,
               std::time_t seatLogon);

}  // namespace ingest

#endif
