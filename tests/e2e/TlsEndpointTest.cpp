// The service behind an ssl endpoint with client certificates, configured
// through Ice's SSL plug-in alone: a certified client's calls arrive and
// its seat is still told by its address; a client without a certificate is
// refused. The test makes its own CA and certificates.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "EventRecords.h"
#include "SeatSiteTest.h"

using namespace tessel;
using namespace testing_support;

namespace {

const char kOpensslConfig[] =
    "[req]\n"
    "distinguished_name = dn\n"
    "[dn]\n"
    "[ca]\n"
    "basicConstraints = critical, CA:TRUE\n"
    "keyUsage = critical, keyCertSign, cRLSign\n"
    "subjectKeyIdentifier = hash\n"
    "[server]\n"
    "basicConstraints = CA:FALSE\n"
    "keyUsage = critical, digitalSignature\n"
    "extendedKeyUsage = serverAuth\n"
    "subjectAltName = IP:127.0.0.1\n"
    "[client]\n"
    "basicConstraints = CA:FALSE\n"
    "keyUsage = critical, digitalSignature\n"
    "extendedKeyUsage = clientAuth\n";

class TlsEndpointTest : public SeatSiteTest {
 protected:
  void SetUp() override {
    PrepareSite();
    ASSERT_TRUE(MakeCertificates());
    site.setProperty("Ice.Plugin.IceSSL", "IceSSL:createIceSSL");
    site.setProperty("IceSSL.DefaultDir", certs.path());
    site.setProperty("IceSSL.CAs", "ca.pem");
    site.setProperty("IceSSL.CertFile", "server.pem");
    site.setProperty("IceSSL.KeyFile", "server.key");
    site.setProperty("IceSSL.VerifyPeer", "2");
    // The fixture sees the service up through its tcp endpoint.
    site.setProperty("tesselWriteService.Endpoints",
                     "tcp -h 127.0.0.1 -p " + std::to_string(site.port()) +
                         ":ssl -h 127.0.0.1 -p " + std::to_string(sslPort));
    ASSERT_TRUE(site.start()) << site.serverStderr();
  }
  void TearDown() override {
    for (Ice::CommunicatorPtr& client : clients) client->destroy();
  }

  bool Openssl(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {OPENSSL};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child(argv, {}, certs.path(), certs / "openssl.out", certs / "openssl.err");
    const int status = child.wait(std::chrono::seconds(30));
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << ReadFile(certs / "openssl.err");
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  // A CA, and a server and a client certificate it signed (EC keys: quick).
  bool MakeCertificates() {
    WriteFile(certs / "openssl.cnf", kOpensslConfig);
    const std::vector<std::string> newKey = {"-newkey", "ec", "-pkeyopt",
                                             "ec_paramgen_curve:prime256v1", "-nodes"};
    std::vector<std::string> ca = {"req", "-x509", "-config", "openssl.cnf", "-extensions", "ca",
                                   "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
                                   "-subj", "/CN=Tessel Test CA"};
    ca.insert(ca.end(), newKey.begin(), newKey.end());
    if (!Openssl(ca)) return false;
    int serial = 1;
    for (const std::string who : {"server", "client"}) {
      std::vector<std::string> request = {"req", "-new", "-config", "openssl.cnf", "-keyout",
                                          who + ".key", "-out", who + ".csr",
                                          "-subj", "/CN=" + (who == "server" ? std::string("127.0.0.1") : who)};
      request.insert(request.end(), newKey.begin(), newKey.end());
      if (!Openssl(request) ||
          !Openssl({"x509", "-req", "-in", who + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                    "-set_serial", std::to_string(++serial), "-days", "2", "-extfile",
                    "openssl.cnf", "-extensions", who, "-out", who + ".pem"}))
        return false;
    }
    return true;
  }

  // A client of the ssl endpoint, with the client certificate or without one.
  Audit::VirtualPersion::AccountInfoPrx SslClient(bool certified) {
    Ice::InitializationData init;
    init.properties = Ice::createProperties();
    init.properties->setProperty("Ice.Plugin.IceSSL", "IceSSL:createIceSSL");
    init.properties->setProperty("IceSSL.DefaultDir", certs.path());
    init.properties->setProperty("IceSSL.CAs", "ca.pem");
    if (certified) {
      init.properties->setProperty("IceSSL.CertFile", "client.pem");
      init.properties->setProperty("IceSSL.KeyFile", "client.key");
    }
    clients.push_back(Ice::initialize(init));
    return Audit::VirtualPersion::AccountInfoPrx::uncheckedCast(clients.back()->stringToProxy(
        "tesselWriteService:ssl -h 127.0.0.1 -p " + std::to_string(sslPort) + " -t 10000"));
  }

  TempDir certs;
  const int sslPort = FreePort();
  std::vector<Ice::CommunicatorPtr> clients;
};

}  // namespace

TEST_F(TlsEndpointTest, CertifiedClientIsServedAndItsSeatToldByItsAddress) {
  Audit::VirtualPersion::AccountInfoPrx prx = SslClient(true);
  events::Event im = seat;
  im.infoType = 1001;
  im.account = "12345";
  im.beginTime = seat.seatLogon + 5;
  prx->registAccount(Bytes(events::IdentityEventRecord(im, 0)));
  EXPECT_EQ(prx->ice_getCachedConnection()->type(), "ssl");
  events::Event off = seat;
  off.account = "440102199001011234";
  off.logoffTime = seat.seatLogon + 50;
  prx->RealNameClientOff(events::InterfaceIp(seat.ip), Bytes(events::SeatEventRecord(off)),
                         seat.seatLogon, off.logoffTime);
  ASSERT_TRUE(DayFileHolds(3)) << site.serverStdout() << site.serverStderr();
  const std::vector<VirtualIdRecord> stored = TodaysRecords(site.dir());
  EXPECT_EQ(stored[1].InfoType(), 1001);
  EXPECT_EQ(stored[1].ImStatus(), 1);  // put off by the seat's log-off, found at 127.0.0.1
  EXPECT_EQ(stored[1].Int(rec::kOffCode), rec::kSeatLogoffOffCode);
}

TEST_F(TlsEndpointTest, ClientWithoutCertificateIsRefused) {
  Audit::VirtualPersion::AccountInfoPrx prx = SslClient(false);
  EXPECT_THROW(prx->registAccount(Bytes(ImOnRecord("12345"))), Ice::LocalException);
  EXPECT_NO_THROW(SslClient(true)->ice_ping());  // the endpoint itself works
  EXPECT_TRUE(TodaysRecords(site.dir()).empty());
}
