// tessel-check on a site that is right, then on the same site with one thing
// wrong at a time: each gives exit 78 and one line naming the file, the key
// and its value.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>

#include "TestSupport.h"

using namespace testing_support;

namespace {

const std::string kModule = std::string(TESSEL_MODULE_DIR) + "/tesselWriteService:create";
const std::string kNetbar =
    "[P2PVIRTUALID]\nAddrCount=3\n"
    "ServerAddr_0=127.0.0.1\nServerPort_0=8000\nOffSet_0=-1\n"
    "ServerAddr_1=localhost\nServerPort_1=8001\nIsOverdue_1=0\n"
    "ServerAddr_2=::1\nServerPort_2=8002\n";

struct Checked {
  int code;
  std::string out, err;
};

class SiteCheckTest : public ::testing::Test {
 public:
  void SetUp() override {
    WriteFile(site / "siteenv.cfg", "Audit.Unit.Identity=4401027777\n");
    WriteFile(site / "netbarcfg.ini", kNetbar);
    WriteIceBoxConfig(Endpoint(servicePort), kModule);
  }

  static std::string Endpoint(int port) { return "tcp -h 127.0.0.1 -p " + std::to_string(port); }

  void WriteIceBoxConfig(const std::string& endpoints, const std::string& module,
                         const std::string& more = "") {
    WriteFile(site / "icebox.cfg", "IceBox.Service.tesselWriteService=" + module + "\n" +
                                       "tesselWriteService.Endpoints=" + endpoints + "\n" +
                                       "Ice.Admin.Endpoints=" + Endpoint(adminPort) + "\n" +
                                       "tesselServiceIA.upPath=*ia/\n" + more);
  }
  // One more line of icebox.cfg.
  void AddSetting(const std::string& line) {
    WriteIceBoxConfig(Endpoint(servicePort), kModule, line + "\n");
  }
  void ReplaceInNetbar(const std::string& from, const std::string& to) {
    std::string text = ReadFile(site / "netbarcfg.ini");
    text.replace(text.find(from), from.size(), to);
    WriteFile(site / "netbarcfg.ini", text);
  }

  // The check as an unprivileged user: root may write anywhere.
  Checked Check(bool unprivileged = false) {
    std::vector<std::string> argv = {TESSEL_CHECK, site.path()};
    if (unprivileged && ::geteuid() == 0)
      argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                 "--clear-groups"});
    ChildProcess child(argv, {}, "/", logs / "out", logs / "err");
    const int status = child.wait(std::chrono::seconds(20));
    return Checked{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(logs / "out"),
                   ReadFile(logs / "err")};
  }

  TempDir site, logs;
  int servicePort = FreePort();
  int adminPort = FreePort();
  int heldFd = -1;  // a listener of another program
  ~SiteCheckTest() override {
    if (heldFd >= 0) ::close(heldFd);
  }
};

// Listens on the service's port, as another program would.
void HoldServicePort(SiteCheckTest* t) {
  t->heldFd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(t->servicePort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(t->heldFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(t->heldFd, 1), 0);
}

TEST_F(SiteCheckTest, ARightSiteHasNoProblem) {
  const Checked checked = Check();
  EXPECT_EQ(checked.code, 0) << checked.err;
  EXPECT_EQ(checked.out, site.path() + ": no problems\n");
  EXPECT_EQ(checked.err, "");
}

struct BadConfig {
  const char* name;
  std::function<void(SiteCheckTest*)> spoil;
  const char* file;  // in the site; empty for the site directory itself
  const char* line;  // what the line says after the file's path
  bool unprivileged;
};

void PrintTo(const BadConfig& config, std::ostream* out) { *out << config.name; }

class BadSiteTest : public SiteCheckTest, public ::testing::WithParamInterface<BadConfig> {
 public:
  void spoil() { GetParam().spoil(this); }
};

TEST_P(BadSiteTest, IsOneLineAndExit78) {
  spoil();
  const Checked checked = Check(GetParam().unprivileged);
  EXPECT_EQ(checked.code, 78) << checked.err;
  const std::string file = *GetParam().file != '\0' ? site / GetParam().file : site.path();
  EXPECT_EQ(checked.err.substr(0, checked.err.find('\n') + 1).find(file + ": " + GetParam().line), 0u)
      << checked.err;
  EXPECT_EQ(std::count(checked.err.begin(), checked.err.end(), '\n'), 1) << checked.err;
  EXPECT_EQ(checked.out, "");
}

const BadConfig kBadConfigs[] = {
    {"NetbarConfigMissing", [](SiteCheckTest* t) { ::unlink((t->site / "netbarcfg.ini").c_str()); },
     "netbarcfg.ini", "cannot be read: No such file or directory", false},
    {"PortOutOfRange", [](SiteCheckTest* t) { t->ReplaceInNetbar("=8000", "=99999"); },
     "netbarcfg.ini", "ServerPort_0=99999: not a port", false},
    {"PortNotANumber", [](SiteCheckTest* t) { t->ReplaceInNetbar("=8000", "=80x0"); },
     "netbarcfg.ini", "ServerPort_0=80x0: not a whole number", false},
    {"AddressMissing", [](SiteCheckTest* t) { t->ReplaceInNetbar("ServerAddr_2=::1\n", ""); },
     "netbarcfg.ini", "ServerAddr_2: missing, though AddrCount=3 lists it", false},
    {"EntryPastAddrCount", [](SiteCheckTest* t) { t->ReplaceInNetbar("AddrCount=3", "AddrCount=2"); },
     "netbarcfg.ini", "ServerAddr_2=::1: entry 2 is not served", false},
    {"SiteEnvMissing", [](SiteCheckTest* t) { ::unlink((t->site / "siteenv.cfg").c_str()); },
     "siteenv.cfg", "cannot be read: No such file or directory", false},
    {"UnitIdentityMissing", [](SiteCheckTest* t) { WriteFile(t->site / "siteenv.cfg", "Audit.Other=1\n"); },
     "siteenv.cfg", "Audit.Unit.Identity: missing", false},
    {"ModuleMissing",
     [](SiteCheckTest* t) { t->WriteIceBoxConfig(t->Endpoint(t->servicePort), "/nonexistent/tesselWriteService:create"); },
     "icebox.cfg",
     "IceBox.Service.tesselWriteService=/nonexistent/tesselWriteService:create: module "
     "/nonexistent/libtesselWriteService.so does not exist",
     false},
    {"EndpointDoesNotParse",
     [](SiteCheckTest* t) { t->WriteIceBoxConfig("tcp -h 127.0.0.1 -p 10O10", kModule); },
     "icebox.cfg", "tesselWriteService.Endpoints=tcp -h 127.0.0.1 -p 10O10: does not parse", false},
    // What the service itself refuses at start, told by its own reader.
    {"DurabilityUnknown", [](SiteCheckTest* t) { t->AddSetting("tesselWriteService.Durability=fast"); },
     "icebox.cfg", "tesselWriteService.Durability=fast: use power or process", false},
    {"BoundNotANumber", [](SiteCheckTest* t) { t->AddSetting("tesselWriteService.MaxWaitingRecords=abc"); },
     "icebox.cfg", "tesselWriteService.MaxWaitingRecords=abc: not a whole number", false},
    {"ClientAddressBad",
     [](SiteCheckTest* t) { t->AddSetting("tesselWriteService.AllowedClients=10.0.0.300"); },
     "icebox.cfg", "tesselWriteService.AllowedClients=10.0.0.300: 10.0.0.300: not an IPv4", false},
    {"KeepSecondsZero",
     [](SiteCheckTest* t) { t->AddSetting("tesselWriteService.OnlineExportKeepSeconds=0"); },
     "icebox.cfg", "tesselWriteService.OnlineExportKeepSeconds=0: not a whole number from 1", false},
    {"KeyMisspelt", [](SiteCheckTest* t) { t->AddSetting("tesselWriteService.Durabilty=process"); },
     "icebox.cfg", "tesselWriteService.Durabilty: no such setting", false},
    {"IaKeyMisspelt", [](SiteCheckTest* t) { t->AddSetting("tesselServiceIA.uppath=*ia/"); },
     "icebox.cfg", "tesselServiceIA.uppath: no such setting", false},
    {"IaOutputUnset",
     [](SiteCheckTest* t) {
       WriteFile(t->site / "icebox.cfg", "IceBox.Service.tesselWriteService=" + kModule +
                                             "\ntesselWriteService.Endpoints=" +
                                             t->Endpoint(t->servicePort) + "\n");
     },
     "icebox.cfg", "tesselServiceIA.upPath: unset", false},
    // What the service meets only once it runs.
    {"PortInUse", HoldServicePort, "icebox.cfg", "tesselWriteService.Endpoints=tcp -h 127.0.0.1 -p ",
     false},
    {"FileSystemFull",
     [](SiteCheckTest* t) { t->AddSetting("tesselWriteService.MinFreeMegabytes=1073741824"); },
     "virtualdb", "only ", false},
    {"SampleIdentity", [](SiteCheckTest* t) { WriteFile(t->site / "siteenv.cfg", "Audit.Unit.Identity=4401020001\n"); },
     "siteenv.cfg", "Audit.Unit.Identity=4401020001: the sample's identity", false},
    {"NoServer", [](SiteCheckTest* t) { WriteFile(t->site / "netbarcfg.ini", "[P2PVIRTUALID]\nAddrCount=0\n"); },
     "netbarcfg.ini", "AddrCount=0: no upstream server is served", false},
    {"NetbarKeyMisspelt", [](SiteCheckTest* t) { AppendFile(t->site / "netbarcfg.ini", "ServerAdress_0=10.0.0.1\n"); },
     "netbarcfg.ini", "ServerAdress_0=10.0.0.1: not a key the service reads", false},
    {"NetbarSectionMisspelt",
     [](SiteCheckTest* t) { AppendFile(t->site / "netbarcfg.ini", "[P2PVIRTUALD]\nAddrCount=1\n"); },
     "netbarcfg.ini", "section [P2PVIRTUALD] is not read", false},
    {"ServerSpeltAnotherWay",
     [](SiteCheckTest* t) {
       ::mkdir((t->site / "virtualdb").c_str(), 0755);
       WriteFile(t->site / "virtualdb/127.0.0.1_8001.spg", std::string(8, '\0'));
     },
     "netbarcfg.ini", "ServerAddr_1=localhost: has no progress file, but ", false},
    {"SiteNotWritable", [](SiteCheckTest* t) { ::chmod(t->site.path().c_str(), 0555); },
     "", "not writable by", true},
};

INSTANTIATE_TEST_SUITE_P(SiteCheckTest, BadSiteTest, ::testing::ValuesIn(kBadConfigs),
                         [](const ::testing::TestParamInfo<BadConfig>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
