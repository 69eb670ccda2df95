// What `cmake --install` gives a site server, checked on a staging root: the
// module and the stand-ins in their own library folder, the tools, the docs,
// the sample site and the systemd unit, and nothing else; the sample site runs
// in the stock icebox from the staged module with no library path, the module
// finding the stand-ins beside it; under the unit's conditions icebox tells
// systemd when it is ready and the files it creates are the site group's
// alone; its admin object counts the calls per operation; the unit passes
// systemd-analyze verify and its sandbox scores 2.5 or lower.
#include <Ice/Ice.h>
#include <Ice/Metrics.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string kBinDir = TESSEL_INSTALL_BINDIR;
const std::string kSbinDir = TESSEL_INSTALL_SBINDIR;
const std::string kLibDir = std::string(TESSEL_INSTALL_LIBDIR) + "/tessel";
const std::string kDataDir = TESSEL_INSTALL_DATAROOTDIR;
const std::string kUnit = "lib/systemd/system/tessel@.service";
const char* const kTools[] = {"virtualid-send", "netlog-sink", "riadump", "tessel-check"};
const char* const kLibraries[] = {"libtesselWriteService.so", "libSiteEnv.so", "libTraceSink.so",
                                  "libRecordExport.so"};

// Runs a program to its end (at most `seconds`); its exit code, or -1 when it
// did not exit by itself in time. Its output goes to `logs`/<name>.out, .err.
int RunToEnd(const std::vector<std::string>& argv, const TempDir& logs, const std::string& name,
        int seconds = 30) {
  ChildProcess child(argv, {{"LD_LIBRARY_PATH", ""}, {"DESTDIR", ""}}, "", logs / (name + ".out"),
                     logs / (name + ".err"));
  const int status = child.wait(std::chrono::seconds(seconds));
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Output(const TempDir& logs, const std::string& name) {
  return ReadFile(logs / (name + ".out")) + ReadFile(logs / (name + ".err"));
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool ReplaceOnce(std::string* text, const std::string& from, const std::string& to) {
  const std::string::size_type at = text->find(from);
  if (at == std::string::npos) return false;
  text->replace(at, from.size(), to);
  return true;
}

std::string FindInPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = dir + "/" + program;
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::string();
}

class InstalledTree : public ::testing::Test {
 protected:
  // One install for every case: into <stage>/usr, as a package would lay it.
  static void SetUpTestSuite() {
    stage_.reset(new TempDir);
    logs_.reset(new TempDir);
    installed_ = RunToEnd({TESSEL_CMAKE, "--install", TESSEL_BUILD_DIR, "--prefix", prefix()}, *logs_,
                     "install", 60) == 0;
  }
  static void TearDownTestSuite() {
    stage_.reset();
    logs_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(installed_) << "cmake --install failed:\n" << Output(*logs_, "install");
  }

  static std::string prefix() { return *stage_ / "usr"; }
  static std::string staged(const std::string& path) { return prefix() + "/" + path; }

  static std::unique_ptr<TempDir> stage_, logs_;
  static bool installed_;
};

std::unique_ptr<TempDir> InstalledTree::stage_, InstalledTree::logs_;
bool InstalledTree::installed_ = false;

TEST_F(InstalledTree, HoldsWhatASiteServerNeedsAndNothingElse) {
  std::set<std::string> expected = {
      kBinDir + "/virtualid-send",
      kBinDir + "/netlog-sink",
      kBinDir + "/riadump",
      kBinDir + "/tessel-check",
      kSbinDir + "/tessel-admin-tls",
      kDataDir + "/doc/tessel/README.md",
      kDataDir + "/tessel/site/icebox.cfg",
      kDataDir + "/tessel/site/siteenv.cfg",
      kDataDir + "/tessel/site/netbarcfg.ini",
      kUnit,
  };
  for (const char* library : kLibraries) expected.insert(kLibDir + "/" + library);
  for (const char* tool : kTools) expected.insert(kDataDir + "/man/man1/" + std::string(tool) + ".1");
  for (const auto& entry : fs::directory_iterator(std::string(TESSEL_SOURCE_DIR) + "/docs"))
    if (entry.path().extension() == ".md")
      expected.insert(kDataDir + "/doc/tessel/docs/" + entry.path().filename().string());

  std::set<std::string> installed;
  for (const auto& entry : fs::recursive_directory_iterator(prefix()))
    if (!entry.is_directory()) installed.insert(fs::relative(entry.path(), prefix()).string());
  EXPECT_EQ(expected, installed);

  for (const std::string program : kTools)
    EXPECT_EQ(0, ::access(staged(kBinDir + "/" + program).c_str(), X_OK)) << program;
}

// The staged sample site in a directory of its own, ready to run here: the
// module where it is staged, the service and the admin object on free
// loopback ports.
class SampleSite : public InstalledTree {
 protected:
  void SetUp() override {
    InstalledTree::SetUp();
    while (adminPort == port) adminPort = FreePort();
    for (const std::string name : {"icebox.cfg", "siteenv.cfg", "netbarcfg.ini"})
      WriteFile(site / name, ReadFile(staged(kDataDir + "/tessel/site/" + name)));
    std::string config = ReadFile(site / "icebox.cfg");
    const std::string service = "IceBox.Service.tesselWriteService=";
    ASSERT_TRUE(ReplaceOnce(&config,
                            service + TESSEL_INSTALL_FULL_LIBDIR + "/tessel/tesselWriteService:create\n",
                            service + staged(kLibDir) + "/tesselWriteService:create\n"))
        << config;
    ASSERT_TRUE(ReplaceOnce(&config, "\ntesselWriteService.Endpoints=tcp -p 10010\n",
                            "\ntesselWriteService.Endpoints=tcp -h 127.0.0.1 -p " +
                                std::to_string(port) + "\n"))
        << config;
    ASSERT_TRUE(ReplaceOnce(&config, "\nIce.Admin.Endpoints=tcp -h 127.0.0.1 -p 10011\n",
                            "\nIce.Admin.Endpoints=tcp -h 127.0.0.1 -p " +
                                std::to_string(adminPort) + "\n"))
        << config;
    WriteFile(site / "icebox.cfg", config);
  }

  // What the operator fills in before the first start: the site's own unit
  // identity and its upstream server.
  void FillIn() {
    std::string env = ReadFile(site / "siteenv.cfg");
    ASSERT_TRUE(ReplaceOnce(&env, "\nAudit.Unit.Identity=4401020001\n",
                            "\nAudit.Unit.Identity=4401021234\n"));
    WriteFile(site / "siteenv.cfg", env);
    std::string netbar = ReadFile(site / "netbarcfg.ini");
    ASSERT_TRUE(ReplaceOnce(&netbar, "\nAddrCount=0\n",
                            "\nAddrCount=1\nServerAddr_0=127.0.0.1\nServerPort_0=" +
                                std::to_string(FreePort()) + "\n"));
    WriteFile(site / "netbarcfg.ini", netbar);
  }

  // icebox on the site, through `wrapper` (a shell line before it) when given.
  std::unique_ptr<ChildProcess> StartIcebox(std::map<std::string, std::string> env = {},
                                            const std::string& wrapper = std::string()) {
    std::vector<std::string> argv = {TESSEL_ICEBOX, "--Ice.Config=" + (site / "icebox.cfg")};
    env["TESSEL_HOME"] = site.path();
    env["LD_LIBRARY_PATH"] = "";
    std::map<std::string, std::string> host = HostEnvironment(env);
    if (!wrapper.empty()) {
      // A sanitizer's run time preloaded is for icebox, not for the shell.
      std::string preload;
      if (host.count("LD_PRELOAD") != 0) {
        preload = "LD_PRELOAD=\"$TESSEL_PRELOAD\" ";
        host["TESSEL_PRELOAD"] = host["LD_PRELOAD"];
        host.erase("LD_PRELOAD");
      }
      argv.insert(argv.begin(),
                  {"/bin/sh", "-c", wrapper + " && " + preload + "exec \"$@\"", "sh"});
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(
        argv, host, site.path(), site / "server.out", site / "server.err"));
  }
  int Send(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {staged(kBinDir + "/virtualid-send"), "--port", std::to_string(port)};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunToEnd(argv, logs, "send", 10);
  }
  bool Answers(ChildProcess* icebox) {
    return WaitUntil([&] { return !icebox->running() || Send({"ping"}) == 0; },
                     std::chrono::seconds(15)) &&
           icebox->running();
  }

  TempDir site, logs;
  const int port = FreePort();
  int adminPort = FreePort();
};

TEST_F(SampleSite, RunsInIceboxFromTheStagedModule) {
  const std::string config = ReadFile(site / "icebox.cfg");
  for (const std::string line : {"\nIceBox.InheritProperties=1\n", "\ntesselServiceIA.Path=*ia/\n",
                                 "\ntesselServiceIA.upPath=*ia/\n", "\nIce.Warn.Dispatch=0\n"})
    EXPECT_TRUE(Contains(config, line)) << line;
  // Untouched, the check the unit runs first names what is left to fill in;
  // filled in, the sample passes it.
  EXPECT_EQ(78, RunToEnd({staged(kBinDir + "/tessel-check"), site.path()}, logs, "check"));
  const std::string told = Output(logs, "check");
  EXPECT_TRUE(Contains(told, "Audit.Unit.Identity=4401020001: the sample's identity")) << told;
  EXPECT_TRUE(Contains(told, "AddrCount=0: no upstream server")) << told;
  FillIn();
  EXPECT_EQ(0, RunToEnd({staged(kBinDir + "/tessel-check"), site.path()}, logs, "check"))
      << Output(logs, "check");

  std::unique_ptr<ChildProcess> started = StartIcebox();
  ChildProcess& icebox = *started;
  ASSERT_TRUE(Answers(&icebox)) << "the service did not answer\n"
                                << ReadFile(site / "server.err") << Output(logs, "send");

  // Every library of the module came from the staged folder.
  std::istringstream maps(ReadFile("/proc/" + std::to_string(icebox.pid()) + "/maps"));
  std::set<std::string> loaded;
  std::string line;
  while (std::getline(maps, line)) {
    const std::string::size_type at = line.find('/');
    if (at != std::string::npos) loaded.insert(line.substr(at));
  }
  for (const char* library : kLibraries) {
    const std::string expected = staged(kLibDir) + "/" + library;
    EXPECT_EQ(1u, loaded.count(expected)) << expected << " is not loaded";
    for (const std::string& path : loaded)
      if (path != expected && fs::path(path).filename() == library)
        ADD_FAILURE() << library << " loaded from " << path;
  }
  EXPECT_TRUE(fs::is_directory(site / "ia")) << "the sample's IA path was not made";

  // The staged tools start without a library path too.
  EXPECT_EQ(0, RunToEnd({staged(kBinDir + "/riadump"), "status", site.path()}, logs, "riadump"))
      << Output(logs, "riadump");
  // The sample's admin object serves the service's status.
  EXPECT_EQ(0, RunToEnd({staged(kBinDir + "/riadump"), "live", "--site", site.path()}, logs, "live"))
      << Output(logs, "live");
  EXPECT_EQ(0, RunToEnd({staged(kBinDir + "/netlog-sink"), "--help"}, logs, "sink"))
      << Output(logs, "sink");

  const int status = icebox.stop(SIGTERM, std::chrono::seconds(15));
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "icebox did not stop cleanly on SIGTERM";
  EXPECT_TRUE(Contains(ReadFile(site / "server.err"), "tesselWriteService End Stop"))
      << ReadFile(site / "server.err");
}

// A datagram socket standing in for systemd's notification socket.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0;
  }
  ~NotifySocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool bound() const { return bound_; }
  // Everything received so far, one message a line.
  const std::string& received() {
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
      said_ += std::string(buffer, static_cast<std::size_t>(n)) + "\n";
    return said_;
  }

 private:
  std::string path_, said_;
  int fd_ = -1;
  bool bound_ = false;
};

// What the unit gives icebox: its umask and systemd's notification socket.
TEST_F(SampleSite, UnderTheUnitIceboxNotifiesSystemdAndKeepsFilesFromOtherUsers) {
  const std::string unit = ReadFile(staged(kUnit));
  ASSERT_TRUE(Contains(unit, "\nType=notify\n")) << unit;
  const std::string::size_type at = unit.find("\nUMask=");
  ASSERT_NE(at, std::string::npos) << unit;
  const std::string umask = unit.substr(at + 7, unit.find('\n', at + 1) - at - 7);
  EXPECT_EQ(umask, "0027");

  NotifySocket notify(logs / "notify");
  ASSERT_TRUE(notify.bound()) << std::strerror(errno);
  std::unique_ptr<ChildProcess> icebox =
      StartIcebox({{"NOTIFY_SOCKET", logs / "notify"}}, "umask " + umask);
  ASSERT_TRUE(WaitUntil([&] { return !icebox->running() || Contains(notify.received(), "READY=1"); },
                        std::chrono::seconds(15)) &&
              icebox->running())
      << "icebox did not say it is ready: " << notify.received() << ReadFile(site / "server.err");
  // Ready means the service answers.
  EXPECT_EQ(0, Send({"ping"})) << Output(logs, "send");
  ASSERT_EQ(0, Send({"im-on", "--account", "12345"})) << Output(logs, "send");
  ASSERT_TRUE(WaitUntil([&] { return !ListDir(site / "virtualdb").empty() &&
                                     fs::exists(site / "virtualdb/virtualdb.db"); },
                        std::chrono::seconds(15)));

  const int status = icebox->stop(SIGTERM, std::chrono::seconds(15));
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(Contains(notify.received(), "STOPPING=1")) << notify.received();

  const std::set<std::string> ours = {"icebox.cfg", "siteenv.cfg", "netbarcfg.ini", "server.out",
                                      "server.err"};
  int created = 0;
  for (const auto& entry : fs::recursive_directory_iterator(site.path())) {
    const std::string name = fs::relative(entry.path(), site.path()).string();
    if (ours.count(name) != 0) continue;
    struct stat st;
    ASSERT_EQ(0, ::lstat(entry.path().c_str(), &st)) << name;
    EXPECT_EQ(st.st_mode & 07777, S_ISDIR(st.st_mode) ? 0750u : 0640u) << name;
    ++created;
  }
  EXPECT_GE(created, 4) << "the day file, the keyword store and their directories at least";
}

// The sample's admin object, on loopback, holds the service's IceMX view
// of its calls per operation.
TEST_F(SampleSite, AdminObjectCountsTheServiceCallsPerOperation) {
  std::unique_ptr<ChildProcess> icebox = StartIcebox();
  ASSERT_TRUE(Answers(icebox.get())) << ReadFile(site / "server.err");
  ASSERT_EQ(0, Send({"im-on", "--account", "12345"})) << Output(logs, "send");

  Ice::CommunicatorPtr client = Ice::initialize();
  std::map<std::string, Ice::Long> calls;
  try {
    IceMX::MetricsAdminPrx metrics = IceMX::MetricsAdminPrx::checkedCast(client->stringToProxy(
        "tessel-site/admin -f IceBox.Service.tesselWriteService.Metrics:tcp -h 127.0.0.1 -p " +
        std::to_string(adminPort) + " -t 10000"));
    ASSERT_TRUE(metrics);
    Ice::Long timestamp = 0;
    IceMX::MetricsView view = metrics->getMetricsView("Operations", timestamp);
    for (const IceMX::MetricsPtr& entry : view["Dispatch"]) calls[entry->id] = entry->total;
  } catch (const Ice::Exception& e) {
    ADD_FAILURE() << e;
  }
  client->destroy();
  EXPECT_GE(calls["ice_ids"], 1) << "no ping counted";
  EXPECT_EQ(calls["registAccount"], 1);
}

// What every local user of the site server may do, and what only root may:
// the sample's admin object serves the status and the metrics to anyone and
// nothing that stops the service or changes a setting; the management
// endpoint that tessel-admin-tls adds takes only the holder of the admin key,
// with which iceboxadmin stops and starts the service; while the service is
// stopped, systemd's watchdog hears nothing from it.
TEST_F(SampleSite, LocalUsersReadTheStatusAndOnlyTheAdminKeyManages) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "run as root: the local user's calls are made as nobody (runuser)";
  const std::string runuser = FindInPath("runuser");
  ASSERT_FALSE(runuser.empty()) << "no runuser";
  // nobody reaches the staged tools and a copy of the call maker; the site
  // is its group's, as a site is the tessel group's.
  TempDir tools;
  const std::string adminCall = tools / "AdminCall";
  fs::copy_file(TESSEL_ADMIN_CALL, adminCall);
  for (const std::string& dir : {stage_->path(), tools.path()}) ASSERT_EQ(0, ::chmod(dir.c_str(), 0755));
  ASSERT_EQ(0, ::chown(site.path().c_str(), 0, 65534)) << "no group nogroup (65534)";
  ASSERT_EQ(0, ::chmod(site.path().c_str(), 0750));

  // The management endpoint, made as the README says.
  const int managePort = [&] {
    int candidate = FreePort();
    while (candidate == port || candidate == adminPort) candidate = FreePort();
    return candidate;
  }();
  TempDir adminHome;
  const std::string client = adminHome / "cafe";
  ASSERT_EQ(0, RunToEnd({staged(kSbinDir + "/tessel-admin-tls"), site.path(), "--port",
                         std::to_string(managePort), "--client-dir", client},
                        logs, "tls"))
      << Output(logs, "tls");
  struct stat key;
  ASSERT_EQ(0, ::stat((client + "/admin.key").c_str(), &key));
  EXPECT_EQ(key.st_mode & 0777, 0600u);
  EXPECT_EQ(key.st_uid, 0u);
  const std::string manage = "--Ice.Config=" + client + "/iceboxadmin.cfg";
  // nobody trusts the site's CA but has no certificate of its own.
  WriteFile(tools / "ca.pem", ReadFile(client + "/ca.pem"));
  WriteFile(tools / "nobody.cfg", ReadFile(client + "/iceboxadmin.cfg"));
  std::string nobodyConfig = ReadFile(tools / "nobody.cfg");
  ASSERT_TRUE(ReplaceOnce(&nobodyConfig, "IceSSL.DefaultDir=" + client, "IceSSL.DefaultDir=" + tools.path()));
  ASSERT_TRUE(ReplaceOnce(&nobodyConfig, "IceSSL.CertFile=admin.pem\n", ""));
  ASSERT_TRUE(ReplaceOnce(&nobodyConfig, "IceSSL.KeyFile=admin.key\n", ""));
  WriteFile(tools / "nobody.cfg", nobodyConfig);
  for (const std::string& file : {tools / "ca.pem", tools / "nobody.cfg"}) ::chmod(file.c_str(), 0644);

  NotifySocket systemd(logs / "notify");
  ASSERT_TRUE(systemd.bound()) << std::strerror(errno);
  std::unique_ptr<ChildProcess> icebox =
      StartIcebox({{"NOTIFY_SOCKET", logs / "notify"}, {"WATCHDOG_USEC", "400000"}});
  ASSERT_TRUE(Answers(icebox.get())) << ReadFile(site / "server.err");
  const auto pings = [&] { return CountOf(systemd.received(), "WATCHDOG=1"); };
  EXPECT_TRUE(WaitUntil([&] { return pings() >= 2; }, std::chrono::seconds(10)))
      << "no watchdog pings while the service runs: " << systemd.received();

  const auto asNobody = [&](std::vector<std::string> argv, const std::string& group) {
    std::vector<std::string> line = {runuser, "-u", "nobody", "-g", group, "--"};
    line.insert(line.end(), argv.begin(), argv.end());
    return line;
  };
  const std::string riadump = staged(kBinDir + "/riadump");
  const std::string admin = "tessel-site/admin";
  const std::string at = ":tcp -h 127.0.0.1 -p " + std::to_string(adminPort);
  const std::string iceboxadmin = FindInPath("iceboxadmin");
  ASSERT_FALSE(iceboxadmin.empty());

  // Reading: a member of the site's group through the site, anyone through
  // the admin object's proxy; one who may not read the site is told why.
  EXPECT_EQ(0, RunToEnd(asNobody({riadump, "live", "--site", site.path()}, "nogroup"), logs, "member"))
      << Output(logs, "member");
  EXPECT_EQ(3, RunToEnd(asNobody({riadump, "live", "--site", site.path()}, "daemon"), logs, "outsider"))
      << Output(logs, "outsider");
  EXPECT_TRUE(Contains(Output(logs, "outsider"), "group nogroup")) << Output(logs, "outsider");
  EXPECT_EQ(0, RunToEnd(asNobody({riadump, "live", "--admin", admin + at}, "daemon"), logs, "proxy"))
      << Output(logs, "proxy");
  // Managing: every way a local user could try fails.
  EXPECT_NE(0, RunToEnd(asNobody({iceboxadmin, "--IceBoxAdmin.ServiceManager.Proxy=" + admin +
                                  " -f IceBox.ServiceManager" + at, "stop", "tesselWriteService"},
                                 "nogroup"), logs, "stop-tcp"));
  EXPECT_NE(0, RunToEnd(asNobody({iceboxadmin, "--Ice.Config=" + tools / "nobody.cfg", "stop",
                                  "tesselWriteService"}, "nogroup"), logs, "stop-ssl"));
  EXPECT_NE(0, RunToEnd(asNobody({iceboxadmin, manage, "stop", "tesselWriteService"}, "nogroup"), logs,
                        "stop-key"));
  for (const std::string facet : {"Properties", "IceBox.Service.tesselWriteService.Properties"})
    EXPECT_NE(0, RunToEnd(asNobody({adminCall, admin + " -f " + facet + at, "set-property",
                                    "tesselWriteService.DiagnosticLines", "1"}, "nogroup"),
                          logs, "set"))
        << facet;
  EXPECT_NE(0, RunToEnd(asNobody({adminCall, admin + " -f Process" + at, "shutdown"}, "nogroup"), logs,
                        "shutdown"));
  // The service still answers and stores.
  ASSERT_TRUE(Answers(icebox.get())) << ReadFile(site / "server.err");
  ASSERT_EQ(0, Send({"im-on", "--account", "12345"})) << Output(logs, "send");
  EXPECT_TRUE(WaitUntil([&] { return fs::exists(site / "virtualdb/virtualdb.db"); },
                        std::chrono::seconds(15)));

  // Root, with the admin key, stops the service; the watchdog hears no more
  // of it (a unit would restart icebox); and starts it again.
  ASSERT_EQ(0, RunToEnd({iceboxadmin, manage, "stop", "tesselWriteService"}, logs, "stop"))
      << Output(logs, "stop");
  EXPECT_NE(0, Send({"ping"})) << "the service still answers once stopped";
  const std::size_t whenStopped = pings();
  EXPECT_FALSE(WaitUntil([&] { return pings() > whenStopped; }, std::chrono::seconds(1)))
      << "watchdog pings from a stopped service";
  ASSERT_EQ(0, RunToEnd({iceboxadmin, manage, "start", "tesselWriteService"}, logs, "start"))
      << Output(logs, "start");
  EXPECT_TRUE(Answers(icebox.get())) << ReadFile(site / "server.err");
  const std::size_t whenStarted = pings();
  EXPECT_TRUE(WaitUntil([&] { return pings() > whenStarted; }, std::chrono::seconds(10)))
      << "no watchdog pings once started again";

  const int status = icebox->stop(SIGTERM, std::chrono::seconds(15));
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << ReadFile(site / "server.err");
}

// The unit as it is but for the programs' paths where they are not the
// installed ones: systemd-analyze checks that they exist.
std::string UnitAsHere(const std::string& unit, const std::string& bin) {
  std::string text = unit;
  if (std::string(TESSEL_ICEBOX) != "/usr/bin/icebox")
    ReplaceOnce(&text, "=/usr/bin/icebox ", std::string("=") + TESSEL_ICEBOX + " ");
  ReplaceOnce(&text, std::string("=") + TESSEL_INSTALL_FULL_BINDIR + "/tessel-check ",
              "=" + bin + "/tessel-check ");
  return text;
}

TEST_F(InstalledTree, UnitRunsTheSiteDirectoryAndPassesVerify) {
  const std::string unit = ReadFile(staged(kUnit));
  for (const std::string& line : {
           "\nExecStartPre=" + std::string(TESSEL_INSTALL_FULL_BINDIR) +
               "/tessel-check /var/lib/tessel/%i\n",
           std::string("\nExecStart=/usr/bin/icebox --Ice.Config=/var/lib/tessel/%i/icebox.cfg\n"),
           std::string("\nEnvironment=TESSEL_HOME=/var/lib/tessel/%i\n"),
           std::string("\nWorkingDirectory=-/var/lib/tessel/%i\n"),
           std::string("\nReadWritePaths=-/var/lib/tessel/%i\n"),
           std::string("\nUser=tessel\n"),
           std::string("\nGroup=tessel\n"),
           std::string("\nKillSignal=SIGTERM\n"),
           std::string("\nTimeoutStopSec="),
           std::string("\nRestart=on-failure\n"),
           std::string("\nWatchdogSec="),
           std::string("\nWantedBy=multi-user.target\n"),
       })
    EXPECT_TRUE(Contains(unit, line)) << line;

  const std::string analyze = FindInPath("systemd-analyze");
  if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed: the unit is not verified";
  TempDir copy, logs;
  WriteFile(copy / "tessel@.service", UnitAsHere(unit, staged(kBinDir)));
  const int code = RunToEnd({analyze, "verify", copy / "tessel@.service"}, logs, "verify");
  const std::string said = Output(logs, "verify");
  EXPECT_EQ(0, code) << said;
  // Warnings (unknown keys, values it cannot parse) leave the exit code 0;
  // lines about other units of this machine are not ours to judge.
  EXPECT_FALSE(Contains(said, "tessel@")) << said;
}

// systemd's own measure of what the service could do if it were subverted:
// 0 is a locked-down service, 10 one with every right; 2.5 at most.
TEST_F(InstalledTree, UnitSandboxScores2Point5OrLower) {
  const std::string analyze = FindInPath("systemd-analyze");
  if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed: the sandbox is not scored";
  TempDir copy, logs;
  WriteFile(copy / "tessel@.service", UnitAsHere(ReadFile(staged(kUnit)), staged(kBinDir)));
  const int code = RunToEnd({analyze, "security", "--offline=true", "--no-pager",
                             copy / "tessel@.service"},
                            logs, "security");
  const std::string said = Output(logs, "security");
  if (code != 0 && Contains(said, "offline"))
    GTEST_SKIP() << "this systemd-analyze cannot score a unit file (systemd 252 can): " << said;
  ASSERT_EQ(0, code) << said;
  const std::string label = "Overall exposure level for ";
  const std::string::size_type at = said.find(label);
  ASSERT_NE(at, std::string::npos) << said;
  const std::string::size_type colon = said.find(": ", at);
  ASSERT_NE(colon, std::string::npos) << said;
  const double score = std::strtod(said.c_str() + colon + 2, nullptr);
  std::cout << "systemd-analyze security: exposure " << score << " of 10\n";
  EXPECT_LE(score, 2.5) << said;
}

}  // namespace
