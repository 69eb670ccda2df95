// tessel-check on a site that is right, then on the same site with one thing
// wrong at a time: each gives exit 78 and one line naming the file, the key
// and its value.
#include <gtest/gtest.h>
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
    WriteFile(site / "siteenv.cfg", "Audit.Unit.Identity=4401020001\n");
    WriteFile(site / "netbarcfg.ini", kNetbar);
    WriteIceBoxConfig("tcp -h 127.0.0.1 -p 10010", kModule);
  }

  void WriteIceBoxConfig(const std::string& endpoints, const std::string& module) {
    WriteFile(site / "icebox.cfg", "IceBox.Service.tesselWriteService=" + module + "\n" +
                                       "tesselWriteService.Endpoints=" + endpoints + "\n" +
                                       "Ice.Admin.Endpoints=tcp -h 127.0.0.1 -p 10011\n" +
                                       "tesselServiceIA.upPath=*ia/\n");
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
};

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
     [](SiteCheckTest* t) { t->WriteIceBoxConfig("tcp -h 127.0.0.1 -p 10010", "/nonexistent/tesselWriteService:create"); },
     "icebox.cfg",
     "IceBox.Service.tesselWriteService=/nonexistent/tesselWriteService:create: module "
     "/nonexistent/libtesselWriteService.so does not exist",
     false},
    {"EndpointDoesNotParse",
     [](SiteCheckTest* t) { t->WriteIceBoxConfig("tcp -h 127.0.0.1 -p 10O10", kModule); },
     "icebox.cfg", "tesselWriteService.Endpoints=tcp -h 127.0.0.1 -p 10O10: does not parse", false},
    {"SiteNotWritable", [](SiteCheckTest* t) { ::chmod(t->site.path().c_str(), 0555); },
     "", "not writable by", true},
};

INSTANTIATE_TEST_SUITE_P(SiteCheckTest, BadSiteTest, ::testing::ValuesIn(kBadConfigs),
                         [](const ::testing::TestParamInfo<BadConfig>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
