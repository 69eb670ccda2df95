// The service's adapter closes a connection that has carried nothing for its
// ACM timeout (the sample site's settings with a timeout of one second), and
// the client's next call opens a new one.
#include <gtest/gtest.h>

#include <atomic>

#include "IceBoxSite.h"

using namespace testing_support;

namespace {

class ClosedFlag : public Ice::CloseCallback {
 public:
  void closed(const Ice::ConnectionPtr&) override { closed_ = true; }
  bool isSet() const { return closed_; }

 private:
  std::atomic<bool> closed_{false};
};

}  // namespace

TEST(IdleConnectionTest, ServerClosesAnIdleConnectionAndTheNextCallReconnects) {
  IceBoxSite site;
  site.setProperty("tesselWriteService.ACM.Timeout", "1");
  site.setProperty("tesselWriteService.ACM.Close", "1");
  site.setProperty("tesselWriteService.ACM.Heartbeat", "1");
  ASSERT_TRUE(site.start()) << site.serverStderr();

  // A client that would keep its connection for ever and never pings.
  Ice::InitializationData init;
  init.properties = Ice::createProperties();
  init.properties->setProperty("Ice.ACM.Client.Close", "0");
  init.properties->setProperty("Ice.ACM.Client.Heartbeat", "0");
  Ice::CommunicatorPtr client = Ice::initialize(init);
  Ice::ObjectPrx prx = client->stringToProxy("tesselWriteService:tcp -h 127.0.0.1 -p " +
                                             std::to_string(site.port()) + " -t 10000");
  prx->ice_ping();
  Ice::ConnectionPtr first = prx->ice_getCachedConnection();
  ASSERT_TRUE(first);
  IceUtil::Handle<ClosedFlag> closed = new ClosedFlag;
  first->setCloseCallback(closed);

  EXPECT_TRUE(WaitUntil([&] { return closed->isSet(); }, std::chrono::seconds(20)))
      << "the idle connection is still open";
  EXPECT_NO_THROW(prx->ice_ping());
  EXPECT_NE(prx->ice_getCachedConnection(), first);
  client->destroy();
}
