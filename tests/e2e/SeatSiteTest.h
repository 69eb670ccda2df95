// The fixture of the end-to-end tests: an icebox site whose IA files go to
// <site>/ia, an upstream net-log server on loopback that records what it is
// sent, and a seat at 127.0.0.1 that logged on a minute ago.
#ifndef TESSEL_TESTS_SEATSITETEST_H
#define TESSEL_TESTS_SEATSITETEST_H

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>

#include "E2eSite.h"
#include "EventRecords.h"

namespace testing_support {

class SeatSiteTest : public ::testing::Test {
 protected:
  static constexpr std::chrono::seconds kDeadline{20};

  // Starts the upstream server and prepares the site; the site itself is
  // started by the test (or by SetUp of a test that needs no more).
  void PrepareSite() {
    ASSERT_TRUE(upstream.Start());
    WriteNetbarConfig(site.dir(), upstream.port());
    site.setProperty("tesselServiceIA.Path", "*ia/");
    site.setProperty("tesselServiceIA.upPath", "*ia/");
    events::ParseIPv4("127.0.0.1", &seat.ip);
    seat.unit = "4401020001";
    seat.seatLogon = static_cast<std::int32_t>(std::time(nullptr)) - 60;
  }

  // An IM account of the seat coming on line.
  VirtualIdRecord ImOnRecord(const std::string& account) const {
    events::Event e = seat;
    e.infoType = 1001;
    e.account = account;
    e.beginTime = seat.seatLogon + 5;
    return events::IdentityEventRecord(e, 0);
  }

  bool DayFileHolds(size_t n) {
    return WaitUntil([&] { return TodaysRecords(site.dir()).size() >= n; }, kDeadline) &&
           TodaysRecords(site.dir()).size() == n;
  }
  bool UpstreamHolds(size_t n) {
    return WaitUntil([&] { return recorder.count() >= n; }, kDeadline) && recorder.count() == n;
  }

  UpstreamRecorder recorder;
  netlog::SinkServer upstream{"127.0.0.1", 0, netlog::ReplyMode::kAcknowledge, false,
                              recorder.listener()};
  IceBoxSite site;
  events::Event seat;
};

}  // namespace testing_support

#endif
