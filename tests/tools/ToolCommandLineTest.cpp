// The operator tools' command lines: help, bad input, and a round trip of
// virtualid-send through a running service.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

#include "IceBoxSite.h"
#include "TestSupport.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "record/DayStamp.h"
#include "record/RiaBaseFile.h"

using namespace tessel;

using namespace testing_support;

namespace {

struct ToolRun {
  int status;
  std::string out, err;
};

ToolRun RunTool(const std::vector<std::string>& argv) {
  TempDir dir;
  ChildProcess child(argv, {}, "", dir / "out", dir / "err");
  int status = child.wait(std::chrono::seconds(20));
  return ToolRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir / "out"), ReadFile(dir / "err")};
}

}  // namespace

TEST(ToolCommandLineTest, HelpAndBadInput) {
  for (const char* tool : {NETLOG_SINK, VIRTUALID_SEND, RIADUMP, TESSEL_CHECK}) {
    ToolRun help = RunTool({tool, "--help"});
    EXPECT_EQ(help.status, 0) << tool;
    EXPECT_NE(help.out.find("usage:"), std::string::npos) << tool;
    ToolRun version = RunTool({tool, "--version"});
    EXPECT_EQ(version.status, 0) << tool;
    EXPECT_NE(version.out.find(std::string(" ") + TESSEL_VERSION + "\n"), std::string::npos)
        << tool << ": " << version.out;
  }
  EXPECT_EQ(RunTool({NETLOG_SINK, "--mode", "loud"}).status, 2);
  EXPECT_EQ(RunTool({NETLOG_SINK, "--port", "70000"}).status, 2);
  ToolRun badIp = RunTool({VIRTUALID_SEND, "--port", "1", "--ip", "300.1.1.1", "seat-on", "--account", "a"});
  EXPECT_EQ(badIp.status, 2);
  EXPECT_NE(badIp.err.find("--ip"), std::string::npos);
  EXPECT_EQ(RunTool({VIRTUALID_SEND, "--port", "1", "im-on"}).status, 2);  // no --account
  EXPECT_EQ(RunTool({VIRTUALID_SEND, "ping"}).status, 2);                   // no port
  EXPECT_EQ(RunTool({RIADUMP, "records", "/nonexistent.RiaBase"}).status, 1);
  EXPECT_EQ(RunTool({RIADUMP, "what.txt"}).status, 1);

  // status: 0 for a sound site, 1 when its files show trouble, 2 for a bad
  // command line.
  TempDir site;
  port::Env::Default()->CreateDir(site / "virtualdb");
  EXPECT_EQ(RunTool({RIADUMP, "status", site.path()}).status, 0);
  WriteFile(site / "virtualdb/127.0.0.1_9000.spg", "");
  ToolRun trouble = RunTool({RIADUMP, "status", "--behind", "10", site.path()});
  EXPECT_EQ(trouble.status, 1);
  EXPECT_NE(trouble.out.find("problem: "), std::string::npos) << trouble.out;
  EXPECT_EQ(RunTool({RIADUMP, "status", "--behind", "x", site.path()}).status, 2);
}

TEST(ToolCommandLineTest, VirtualIdSendReachesTheService) {
  IceBoxSite site;
  ASSERT_TRUE(site.start()) << site.serverStderr();
  const std::string port = std::to_string(site.port());
  ToolRun ping = RunTool({VIRTUALID_SEND, "--port", port, "ping"});
  EXPECT_EQ(ping.status, 0) << ping.err;
  EXPECT_NE(ping.out.find("::Audit::VirtualPersion::AccountInfo"), std::string::npos);
  ToolRun sent = RunTool({VIRTUALID_SEND, "--port", port, "im-on", "--account", "12345", "--logon",
                      "1796688000"});
  EXPECT_EQ(sent.status, 0) << sent.err;
  const std::string day = site.file("virtualdb/" + DayStamp(std::time(nullptr)) + ".RiaBase");
  EXPECT_TRUE(WaitUntil([&] { return FileSize(day) == 1247; }, std::chrono::seconds(10)));
  ToolRun dump = RunTool({RIADUMP, day});
  EXPECT_EQ(dump.status, 0);
  EXPECT_NE(dump.out.find("account=\"12345\""), std::string::npos) << dump.out;
  ToolRun down = RunTool({VIRTUALID_SEND, "--port", std::to_string(FreePort()), "ping"});
  EXPECT_EQ(down.status, 1);
}

// A site whose icebox.cfg the user cannot read: the reason, on standard
// error and beside tessel_up 0 for Prometheus.
TEST(ToolCommandLineTest, RiadumpLiveSaysWhyItCannotReadASite) {
  TempDir site;
  WriteFile(site / "icebox.cfg", "Ice.Admin.Endpoints=tcp -h 127.0.0.1 -p 1\n");
  ::chmod((site / "icebox.cfg").c_str(), 0600);
  ::chmod(site.path().c_str(), 0755);
  std::vector<std::string> argv = {RIADUMP, "live", "--site", site.path(), "--prometheus"};
  if (::geteuid() == 0)  // root reads any file
    argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  ToolRun run = RunTool(argv);
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_NE(run.err.find("icebox.cfg as user "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Permission denied"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("Permission denied"), std::string::npos) << run.out;
  const std::string name = site.path().substr(site.path().rfind('/') + 1);
  EXPECT_NE(run.out.find("tessel_up{site=\"" + name + "\"} 0\n"), std::string::npos) << run.out;
}
